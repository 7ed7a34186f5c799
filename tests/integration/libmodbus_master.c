/* A Modbus TCP master built on libmodbus, run by the integration tests against our server:
 * it reads and writes every table with every function code and prints one line per step,
 * which the test compares with what a real device must answer.
 * Usage: libmodbus_master PORT */

#include "master_print.h"

static modbus_t* ctx;

static void Bits(const char* what, int rc, const uint8_t* v, int n) {
  if (rc < 0) {
    printf("%s error %s\n", what, Why());
    return;
  }
  printf("%s ", what);
  for (int i = 0; i < n; ++i) printf("%d", v[i]);
  printf("\n");
}

/* A raw reply: the PDU after the 7-byte MBAP header, in hex. */
static void Raw(const char* what, int rc, const uint8_t* reply) {
  if (rc < 0) {
    printf("%s error %s\n", what, Why());
    return;
  }
  printf("%s reply", what);
  for (int i = 7; i < rc; ++i) printf(" %02X", reply[i]);
  printf("\n");
}

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  ctx = Open(modbus_new_tcp("127.0.0.1", atoi(argv[1])));
  uint16_t r[130];
  uint8_t b[2000];

  Rc("fc6", modbus_write_register(ctx, 0, 0x1234));
  Regs("fc3", modbus_read_registers(ctx, 0, 3, r), r, 3);
  const uint16_t many[3] = {0x0A0B, 0x0C0D, 0xFFFF};
  Rc("fc16", modbus_write_registers(ctx, 10, 3, many));
  Regs("fc3", modbus_read_registers(ctx, 10, 3, r), r, 3);
  Regs("fc4", modbus_read_input_registers(ctx, 0, 2, r), r, 2);
  Rc("fc5", modbus_write_bit(ctx, 5, 1));
  Bits("fc1", modbus_read_bits(ctx, 0, 8, b), b, 8);
  const uint8_t pattern[10] = {1, 0, 1, 1, 0, 0, 1, 0, 1, 1};
  Rc("fc15", modbus_write_bits(ctx, 100, 10, pattern));
  Bits("fc1", modbus_read_bits(ctx, 100, 10, b), b, 10);
  Bits("fc2", modbus_read_input_bits(ctx, 0, 4, b), b, 4);
  Rc("fc6", modbus_write_register(ctx, 20, 0x0012));
  Rc("fc22", modbus_mask_write_register(ctx, 20, 0x00F2, 0x0025));
  Regs("fc3", modbus_read_registers(ctx, 20, 1, r), r, 1);
  Regs("fc3-125", modbus_read_registers(ctx, 0, 125, r), r, 0);
  /* libmodbus refuses to send quantities beyond the limits itself, so these go raw. */
  const uint8_t read126[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x7E};
  uint8_t reply[260];
  modbus_send_raw_request(ctx, read126, sizeof read126);
  Raw("fc3-126", modbus_receive_confirmation(ctx, reply), reply);
  const uint8_t coil1234[] = {0x01, 0x05, 0x00, 0x01, 0x12, 0x34};
  modbus_send_raw_request(ctx, coil1234, sizeof coil1234);
  Raw("fc5-bad", modbus_receive_confirmation(ctx, reply), reply);
  const uint8_t fc8[] = {0x01, 0x08, 0x00, 0x00, 0x00, 0x00};
  modbus_send_raw_request(ctx, fc8, sizeof fc8);
  Raw("fc8", modbus_receive_confirmation(ctx, reply), reply);
  modbus_flush(ctx);
  SilentBroadcastAndClose(ctx);
  return 0;
}
