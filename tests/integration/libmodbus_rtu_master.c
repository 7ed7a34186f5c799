/* A Modbus RTU master built on libmodbus, run by the integration tests against our server on
 * one end of a pty pair: every function code, the longest frames, an exception, a slave
 * that is not on the line and a broadcast; one line per step for the test to compare.
 * Usage: libmodbus_rtu_master DEVICE */

#include "master_print.h"

static void Ones(const char* what, int rc, const uint8_t* v, int n) {
  if (rc < 0) {
    printf("%s error %s\n", what, Why());
    return;
  }
  int ones = 0;
  for (int i = 0; i < n; ++i) ones += v[i] != 0;
  printf("%s %d of %d on\n", what, ones, n);
}

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  modbus_t* ctx = Open(modbus_new_rtu(argv[1], 9600, 'N', 8, 1));
  uint16_t r[125];
  uint8_t b[2000];

  Rc("fc6", modbus_write_register(ctx, 0, 0x1234));
  Regs("fc3", modbus_read_registers(ctx, 0, 2, r), r, 2);
  Regs("fc4", modbus_read_input_registers(ctx, 0, 1, r), r, 1);
  uint16_t many[123];
  for (int i = 0; i < 123; ++i) many[i] = (uint16_t)(0x1000 + i);
  Rc("fc16-123", modbus_write_registers(ctx, 200, 123, many));
  int rc = modbus_read_registers(ctx, 200, 125, r);
  printf("fc3-125 %s %04X %04X %04X\n", rc == 125 ? "ok" : Why(), r[0], r[122], r[123]);
  uint8_t coils[1968];
  for (int i = 0; i < 1968; ++i) coils[i] = 1;
  Rc("fc15-1968", modbus_write_bits(ctx, 0, 1968, coils));
  Ones("fc1-2000", modbus_read_bits(ctx, 0, 2000, b), b, 2000);
  Ones("fc2", modbus_read_input_bits(ctx, 0, 4, b), b, 4);
  Rc("fc5", modbus_write_bit(ctx, 0, 0));
  Ones("fc1", modbus_read_bits(ctx, 0, 1, b), b, 1);
  Rc("fc6", modbus_write_register(ctx, 20, 0x0012));
  Rc("fc22", modbus_mask_write_register(ctx, 20, 0x00F2, 0x0025));
  Regs("fc3", modbus_read_registers(ctx, 20, 1, r), r, 1);
  /* libmodbus refuses to send quantities beyond the limits itself, so this goes raw. */
  const uint8_t read126[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x7E};
  uint8_t reply[MODBUS_RTU_MAX_ADU_LENGTH];
  modbus_send_raw_request(ctx, read126, sizeof read126);
  rc = modbus_receive_confirmation(ctx, reply);
  printf("fc3-126");
  if (rc < 0) printf(" error %s", Why());
  for (int i = 0; i < rc; ++i) printf(" %02X", reply[i]);
  printf("\n");
  modbus_set_slave(ctx, 7);
  Regs("slave7", modbus_read_registers(ctx, 0, 1, r), r, 1);
  SilentBroadcastAndClose(ctx);
  return 0;
}
