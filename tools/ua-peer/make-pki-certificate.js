// Makes an application certificate and its key the way node-opcua's PKI does, for the
// certificate tests:  node make-pki-certificate.js <output folder>
"use strict";
const fs = require("fs");
const path = require("path");
const { generatePrivateKey, privateKeyToPEM, createSelfSignedCertificate, convertPEMtoDER, exploreCertificate } =
    require("node-opcua-crypto");

(async () => {
    const out = process.argv[2];
    const privateKey = await generatePrivateKey(2048);
    const { privPem } = await privateKeyToPEM(privateKey);
    const { cert } = await createSelfSignedCertificate({
        privateKey,
        notBefore: new Date(Date.UTC(2025, 0, 1)),
        validity: 3650,
        subject: "/CN=Vela PKI Test/O=Vela",
        dns: ["localhost"],
        ip: ["127.0.0.1"],
        applicationUri: "urn:vela:pki:test",
    });
    const der = require("node-opcua-crypto").convertPEMtoDER(cert);
    fs.writeFileSync(path.join(out, "pki_key.pem"), privPem);
    fs.writeFileSync(path.join(out, "pki_cert.der"), der);
    const info = exploreCertificate(der);
    console.log(JSON.stringify({ notAfter: info.tbsCertificate.validity.notAfter }));
})();
