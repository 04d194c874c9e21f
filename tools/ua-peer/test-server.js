// The UA server of the interop tests (node-opcua): all six policies with Sign and
// SignAndEncrypt, anonymous, user-name, X509 and issued user tokens, a few variables and the
// demo address space (demo-address-space.js).
// The only issued token accepted is the text "vela-issued-token".
//   node [--security-revert=CVE-2023-46809] test-server.js <pki folder>
// Prints "READY <port>" when it listens (port 0: the system chooses), ends on SIGTERM.
"use strict";
const path = require("path");
const { OPCUAServer, SecurityPolicy, MessageSecurityMode, Variant, DataType, OPCUACertificateManager, nodesets,
        UserTokenPolicy, UserTokenType, IssuedIdentityToken, StatusCodes, SessionContext, makeRoles,
        WellKnownRoles } = require("node-opcua");

(async () => {
    const pki = process.argv[2] || path.join(__dirname, "pki");
    const serverCertificateManager = new OPCUACertificateManager({
        rootFolder: path.join(pki, "server"), automaticallyAcceptUnknownCertificate: true, keySize: 2048,
    });
    await serverCertificateManager.initialize();
    const userCertificateManager = new OPCUACertificateManager({
        rootFolder: path.join(pki, "user"), automaticallyAcceptUnknownCertificate: true, keySize: 2048,
    });
    await userCertificateManager.initialize();
    const rsa15 = process.execArgv.some((a) => a.startsWith("--security-revert"));
    const policies = [SecurityPolicy.None, SecurityPolicy.Basic256, SecurityPolicy.Basic256Sha256,
                      SecurityPolicy.Aes128_Sha256_RsaOaep, SecurityPolicy.Aes256_Sha256_RsaPss];
    if (rsa15) policies.push(SecurityPolicy.Basic128Rsa15);
    const server = new OPCUAServer({
        port: Number(process.env.UA_PORT || 0),
        hostname: "127.0.0.1",
        nodeset_filename: [nodesets.standard],
        serverCertificateManager,
        userCertificateManager,
        certificateFile: path.join(pki, "server", "own", "certs", "vela-test-server.pem"),
        securityPolicies: policies,
        securityModes: [MessageSecurityMode.None, MessageSecurityMode.Sign, MessageSecurityMode.SignAndEncrypt],
        allowAnonymous: true,
        userManager: { isValidUser: (user, password) => user === "operator" && password === "secret" },
        maxConnectionsPerEndpoint: 200,
        serverCapabilities: { maxSessions: 200 },
        buildInfo: { productName: "Vela test server", buildNumber: "1" },
    });
    // The certificate it makes names the addresses clients connect to, so that they can check
    // the host name; its own file, as older test folders hold one without them.
    server.getConfiguredHostnames = () => ["localhost"];
    server.getConfiguredIPs = () => ["127.0.0.1"];
    await server.initialize();
    const namespace = server.engine.addressSpace.getOwnNamespace();
    const folder = namespace.addFolder(server.engine.addressSpace.rootFolder.objects, { browseName: "Plant" });
    let temperature = 21.5;
    namespace.addVariable({ componentOf: folder, browseName: "Temperature", nodeId: "s=Plant.Temperature", dataType: "Double",
        minimumSamplingInterval: 100,
        value: { get: () => new Variant({ dataType: DataType.Double, value: temperature }),
                 set: (v) => { temperature = v.value; return StatusCodes.Good; } } });
    let counter = 0;
    setInterval(() => counter++, 100);
    namespace.addVariable({ componentOf: folder, browseName: "Counter", nodeId: "s=Plant.Counter", dataType: "Int32",
        minimumSamplingInterval: 100,
        value: { get: () => new Variant({ dataType: DataType.Int32, value: counter }) } });
    require("./demo-address-space").build(server);
    // node-opcua offers no issued-token policy of its own: add one to every endpoint and check
    // the token's data here.
    for (const endpoint of server.endpoints)
        for (const description of endpoint.endpointDescriptions())
            description.userIdentityTokens.push(new UserTokenPolicy({
                policyId: "issued_token", tokenType: UserTokenType.IssuedToken,
                issuedTokenType: "http://opcfoundation.org/UA/UserToken#JWT" }));
    const isValidUserIdentityToken = server.isValidUserIdentityToken.bind(server);
    server.isValidUserIdentityToken = (channel, session, token, signature, endpoint, callback) => {
        if (token instanceof IssuedIdentityToken)
            return callback(null, token.tokenData && token.tokenData.toString() === "vela-issued-token"
                ? StatusCodes.Good : StatusCodes.BadIdentityTokenRejected);
        return isValidUserIdentityToken(channel, session, token, signature, endpoint, callback);
    };
    // ... and give its sessions the roles of an authenticated user (node-opcua finds no user name
    // in such a token and would fail every access check).
    const currentUserRoles = SessionContext.prototype.getCurrentUserRoles;
    SessionContext.prototype.getCurrentUserRoles = function () {
        if (this.session && this.session.userIdentityToken instanceof IssuedIdentityToken)
            return makeRoles([WellKnownRoles.AuthenticatedUser]);
        return currentUserRoles.call(this);
    };
    await server.start();
    const port = server.endpoints[0].port;
    process.stdout.write("READY " + port + "\n");
    const stop = async () => { await server.shutdown(0); process.exit(0); };
    process.on("SIGTERM", stop);
    // A test process that dies without stopping the server must not leave it behind.
    const parent = process.ppid;
    setInterval(() => { if (process.ppid !== parent) process.exit(0); }, 500).unref();
    process.on("SIGINT", stop);
})().catch((e) => { console.error(e); process.exit(1); });
