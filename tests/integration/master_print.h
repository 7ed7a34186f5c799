/* What the libmodbus master programs print: one line per step, "WHAT ok", "WHAT values" or
 * "WHAT error REASON", for the tests to compare. */
#ifndef VELKOR_MASTER_PRINT_H
#define VELKOR_MASTER_PRINT_H

#include <errno.h>
#include <modbus.h>
#include <stdio.h>
#include <stdlib.h>

static const char* Why(void) {
  return errno == EMBXILVAL ? "illegal-data-value"
         : errno == ETIMEDOUT ? "timeout"
                              : modbus_strerror(errno);
}

static void Rc(const char* what, int rc) {
  if (rc < 0)
    printf("%s error %s\n", what, Why());
  else
    printf("%s ok\n", what);
}

static void Regs(const char* what, int rc, const uint16_t* v, int n) {
  if (rc < 0) {
    printf("%s error %s\n", what, Why());
    return;
  }
  printf("%s", what);
  for (int i = 0; i < n; ++i) printf(" %04X", v[i]);
  printf("\n");
}

/* Connects, with a 0.4 s reply timeout, to slave 1; exits 1 on failure. */
static modbus_t* Open(modbus_t* ctx) {
  if (!ctx || modbus_connect(ctx) != 0) {
    fprintf(stderr, "connect: %s\n", modbus_strerror(errno));
    exit(1);
  }
  modbus_set_response_timeout(ctx, 0, 400000);
  modbus_set_slave(ctx, 1);
  return ctx;
}

/* Unit 2 never answers; a broadcast (unit 0) of 4242 to register 30 is served but gets no
 * reply (libmodbus waits for one even to unit 0, so a timeout shows that none came), and
 * unit 1 reads it back. Ends with the context closed and freed. */
static void SilentBroadcastAndClose(modbus_t* ctx) {
  uint16_t r[1];
  modbus_set_slave(ctx, 2);
  Regs("silent", modbus_read_registers(ctx, 0, 1, r), r, 1);
  modbus_set_slave(ctx, 0);
  Rc("broadcast", modbus_write_register(ctx, 30, 0x4242));
  modbus_set_slave(ctx, 1);
  Regs("fc3", modbus_read_registers(ctx, 30, 1, r), r, 1);
  modbus_close(ctx);
  modbus_free(ctx);
}

#endif
