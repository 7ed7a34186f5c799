// The OPC UA peer of the client's integration tests: SecurityPolicy None, anonymous, on
// 127.0.0.1 and a port the system picks. Prints "listening opc.tcp://127.0.0.1:<port>/velkor"
// once it accepts connections; stops on SIGTERM or when its standard input closes, so a test
// that dies never leaves it behind.
//   node server.js <pki folder>
"use strict";
const { OPCUAServer } = require("node-opcua-server");
const { OPCUACertificateManager } = require("node-opcua-certificate-manager");
const { nodesets } = require("node-opcua-nodesets");
const { MessageSecurityMode, SecurityPolicy } = require("node-opcua-secure-channel");
const { StatusCodes } = require("node-opcua-status-code");
const { Variant, DataType, VariantArrayType } = require("node-opcua-variant");

const pki = process.argv[2];
if (!pki) {
  console.error("usage: node server.js <pki folder>");
  process.exit(2);
}

async function main() {
  const manager = (folder) =>
    new OPCUACertificateManager({ rootFolder: folder, automaticallyAcceptUnknownCertificate: true });
  const server = new OPCUAServer({
    port: 0,
    host: "127.0.0.1",
    hostname: "127.0.0.1",
    resourcePath: "/velkor",
    securityPolicies: [SecurityPolicy.None],
    securityModes: [MessageSecurityMode.None],
    allowAnonymous: true,
    nodeset_filename: [nodesets.standard],
    serverCertificateManager: manager(pki + "/server"),
    userCertificateManager: manager(pki + "/user"),
    // Short channel lifetimes are allowed, so a test can watch the client renew.
    minimumSecureChannelLifetime: 1000,
  });
  await server.initialize();

  const space = server.engine.addressSpace;
  const ns = space.getOwnNamespace();
  const tank = ns.addObject({ organizedBy: space.rootFolder.objects, browseName: "Tank" });
  const add = (name, dataType, value, writable = true) =>
    ns.addVariable({
      componentOf: tank,
      nodeId: "s=Tank." + name,
      browseName: name,
      dataType,
      accessLevel: writable ? "CurrentRead | CurrentWrite" : "CurrentRead",
      userAccessLevel: writable ? "CurrentRead | CurrentWrite" : "CurrentRead",
      value: new Variant({ dataType: DataType[dataType], arrayType: VariantArrayType.Scalar, value }),
    });
  add("Flag", "Boolean", true);
  add("Small", "SByte", -5);
  add("Count", "UInt16", 65535);
  add("Level", "Double", 12.5);
  add("Ratio", "Float", 0.25);
  add("Total", "Int32", -123456);
  add("Big", "Int64", [0x7fffffff, 0xffffffff]);
  add("Name", "String", "Ёмкость 1");
  add("Text", "String", "");
  add("Serial", "UInt32", 4000000000, false);
  add("Stamp", "DateTime", new Date(Date.UTC(2024, 0, 2, 3, 4, 5, 600)));
  // Changes every 100 ms: subscriptions see it move.
  const counter = add("Counter", "UInt32", 0, false);
  let tick = 0;
  const timer = setInterval(() => {
    tick += 1;
    counter.setValueFromSource(new Variant({ dataType: DataType.UInt32, value: tick }));
  }, 100);
  // Uncertain quality with a high limit, for the quality mapping.
  const odd = add("Odd", "Double", 1.5, false);
  odd.setValueFromSource(new Variant({ dataType: DataType.Double, value: 1.5 }),
    StatusCodes.UncertainEngineeringUnitsExceeded);
  // Many children, so browsing needs continuation points when pages are small.
  const many = ns.addFolder(space.rootFolder.objects, { browseName: "Many", nodeId: "s=Many" });
  for (let k = 0; k < 50; ++k)
    ns.addVariable({
      componentOf: many,
      browseName: "Item" + k,
      nodeId: "s=Many.Item" + k,
      dataType: "Int16",
      value: new Variant({ dataType: DataType.Int16, value: k }),
    });

  await server.start();
  const port = server.endpoints[0].port;
  console.log("listening opc.tcp://127.0.0.1:" + port + "/velkor");

  let stopping = false;
  const stop = async () => {
    if (stopping) return;
    stopping = true;
    clearInterval(timer);
    await server.shutdown(0);
    process.exit(0);
  };
  process.on("SIGTERM", stop);
  process.on("SIGINT", stop);
  process.stdin.on("end", stop);
  process.stdin.on("close", stop);
  process.stdin.resume();
}

main().catch((error) => {
  console.error("server failed: " + (error && error.stack ? error.stack : error));
  process.exit(1);
});
