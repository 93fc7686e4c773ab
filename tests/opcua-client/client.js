// An OPC UA client that is not ours (node-opcua) for the OPC UA face's tests.
// Each scenario prints JSON lines on stdout; the test reads them.
//   node client.js read <url>                 browse, then read until LeggiPeso is Good
//   node client.js watch <url>                a 100 ms subscription on LeggiPeso, one line per change
//   node client.js zero <url> [user password] call Contametri.AzzeraLunghezza
//   node client.js secure <url> <pki folder>  anonymous None, then SignAndEncrypt with a client certificate
//   node client.js readtimes <url> <reads>    (bench) 20 variables in one request, timed
//   node client.js bench <url> <sessions> <items> <seconds>  (bench) monitored items at 100 ms
"use strict";
const {
    OPCUAClient, MessageSecurityMode, SecurityPolicy, AttributeIds, TimestampsToReturn,
    ClientSubscription, ClientMonitoredItem, UserTokenType,
} = require("node-opcua-client");
const { OPCUACertificateManager } = require("node-opcua-certificate-manager");

const kNamespace = "urn:velkaro:quorvex";

function say(object) {
    process.stdout.write(JSON.stringify(object) + "\n");
}

function sleep(ms) {
    return new Promise((resolve) => setTimeout(resolve, ms));
}

function client(options = {}) {
    return OPCUAClient.create({
        applicationName: "QuorvexTestClient",
        endpointMustExist: false,
        connectionStrategy: { maxRetry: 0, initialDelay: 100, maxDelay: 200 },
        securityMode: MessageSecurityMode.None,
        securityPolicy: SecurityPolicy.None,
        ...options,
    });
}

async function namespaceIndex(session) {
    const names = await session.readNamespaceArray();
    return names.indexOf(kNamespace);
}

function shown(dataValue) {
    return {
        status: dataValue.statusCode.name,
        value: dataValue.value && dataValue.value.value !== null ? dataValue.value.value : null,
        sourceTimestamp: dataValue.sourceTimestamp ? dataValue.sourceTimestamp.getTime() : 0,
    };
}

async function browseNames(session, nodeId) {
    const result = await session.browse(nodeId);
    return result.references.map((r) => r.browseName.name);
}

async function read(url) {
    const c = client();
    await c.connect(url);
    const session = await c.createSession();
    const ns = await namespaceIndex(session);
    const objects = await browseNames(session, "ns=0;i=85");
    const line = await browseNames(session, `ns=${ns};s=Linea`);
    const scale = await browseNames(session, `ns=${ns};s=Bilancia`);
    const counter = await browseNames(session, `ns=${ns};s=Contametri`);
    const lineName = await session.read({ nodeId: `ns=${ns};s=Linea`, attributeId: AttributeIds.DisplayName });
    // The first read asks for a reading; it lands in the values a moment later.
    let weight;
    for (let i = 0; i < 200; ++i) {
        weight = shown(await session.read({ nodeId: `ns=${ns};s=Bilancia.LeggiPeso`, attributeId: AttributeIds.Value },
                                          TimestampsToReturn.Both));
        if (weight.status === "Good")
            break;
        await sleep(50);
    }
    const state = shown(await session.read({ nodeId: `ns=${ns};s=Bilancia.Stato`, attributeId: AttributeIds.Value }));
    const coils = shown(await session.read({ nodeId: `ns=${ns};s=Bobine.Conteggio`, attributeId: AttributeIds.Value }));
    const coilId = shown(await session.read({ nodeId: `ns=${ns};s=Bobine.Id`, attributeId: AttributeIds.Value }));
    say({ ns, objects, line, scale, counter, lineName: lineName.value.value.text, weight, state, coils, coilId });
    await session.close();
    await c.disconnect();
}

async function watch(url) {
    const c = client();
    await c.connect(url);
    const session = await c.createSession();
    const ns = await namespaceIndex(session);
    const subscription = ClientSubscription.create(session, {
        requestedPublishingInterval: 100, requestedLifetimeCount: 600, requestedMaxKeepAliveCount: 20,
        maxNotificationsPerPublish: 100, publishingEnabled: true, priority: 1,
    });
    const item = ClientMonitoredItem.create(subscription,
        { nodeId: `ns=${ns};s=Bilancia.LeggiPeso`, attributeId: AttributeIds.Value },
        { samplingInterval: 100, discardOldest: true, queueSize: 10 }, TimestampsToReturn.Both);
    item.on("changed", (dataValue) => say(shown(dataValue)));
    // Runs until the test closes stdin.
    process.stdin.resume();
    await new Promise((resolve) => process.stdin.on("end", resolve));
    await subscription.terminate();
    await session.close();
    await c.disconnect();
}

async function zero(url, user, password) {
    const c = client();
    await c.connect(url);
    const session = user ? await c.createSession({ type: UserTokenType.UserName, userName: user, password })
                         : await c.createSession();
    const ns = await namespaceIndex(session);
    const result = await session.call({
        objectId: `ns=${ns};s=Contametri`, methodId: `ns=${ns};s=Contametri.AzzeraLunghezza`, inputArguments: [],
    });
    say({ status: result.statusCode.name });
    await session.close();
    await c.disconnect();
}

// Whether a session can be made and a value read; the error's text if not.
async function tryConnect(url, options) {
    const c = client(options);
    try {
        await c.connect(url);
        const session = await c.createSession();
        const ns = await namespaceIndex(session);
        const weight = shown(await session.read({ nodeId: `ns=${ns};s=Bilancia.Stato`, attributeId: AttributeIds.Value }));
        await session.close();
        await c.disconnect();
        return { ok: true, status: weight.status };
    } catch (error) {
        try { await c.disconnect(); } catch (_) { /* already gone */ }
        return { ok: false, error: String(error.message || error).split("\n")[0] };
    }
}

async function secure(url, pki) {
    const none = await tryConnect(url, {});
    const certificates = new OPCUACertificateManager({ rootFolder: pki, automaticallyAcceptUnknownCertificate: true });
    await certificates.initialize();
    const options = {
        securityMode: MessageSecurityMode.SignAndEncrypt, securityPolicy: SecurityPolicy.Basic256Sha256,
        clientCertificateManager: certificates,
    };
    const encrypted = await tryConnect(url, options);
    say({ none, encrypted });
    // The test moves the refused certificate to trusted/ and writes a line.
    process.stdin.resume();
    await new Promise((resolve) => process.stdin.once("data", resolve));
    say({ again: await tryConnect(url, options) });
    process.stdin.pause();
}

// The variables of the line, as many as asked, in browse order.
async function variables(session, ns, count) {
    const ids = [];
    for (const object of await browseNames(session, `ns=${ns};s=Linea`)) {
        for (const name of await browseNames(session, `ns=${ns};s=${object}`)) {
            if (name !== "AzzeraLunghezza")
                ids.push(`ns=${ns};s=${object}.${name}`);
        }
    }
    return ids.slice(0, count);
}

async function readtimes(url, reads) {
    const c = client();
    await c.connect(url);
    const session = await c.createSession();
    const ns = await namespaceIndex(session);
    const ids = (await variables(session, ns, 20)).map((nodeId) => ({ nodeId, attributeId: AttributeIds.Value }));
    const ms = [];
    for (let i = 0; i < reads; ++i) {
        const start = process.hrtime.bigint();
        await session.read(ids, TimestampsToReturn.Both);
        ms.push(Number(process.hrtime.bigint() - start) / 1e6);
        await sleep(2);
    }
    ms.sort((a, b) => a - b);
    say({ variables: ids.length, median: ms[Math.floor(ms.length / 2)], p99: ms[Math.floor(ms.length * 0.99)] });
    await session.close();
    await c.disconnect();
}

async function bench(url, sessions, items, seconds) {
    const clients = [];
    let changes = 0;
    for (let s = 0; s < sessions; ++s) {
        const c = client();
        await c.connect(url);
        const session = await c.createSession();
        const ns = await namespaceIndex(session);
        const subscription = ClientSubscription.create(session, {
            requestedPublishingInterval: 100, requestedLifetimeCount: 600, requestedMaxKeepAliveCount: 20,
            maxNotificationsPerPublish: 1000, publishingEnabled: true, priority: 1,
        });
        const ids = await variables(session, ns, items);
        for (const nodeId of ids) {
            const item = ClientMonitoredItem.create(subscription, { nodeId, attributeId: AttributeIds.Value },
                { samplingInterval: 100, discardOldest: true, queueSize: 1 }, TimestampsToReturn.Both);
            item.on("changed", () => ++changes);
        }
        clients.push({ c, session, subscription });
    }
    say({ ready: true });
    await sleep(seconds * 1000);
    say({ changes });
    for (const { c, session, subscription } of clients) {
        await subscription.terminate();
        await session.close();
        await c.disconnect();
    }
}

async function main() {
    const [scenario, url, ...rest] = process.argv.slice(2);
    if (scenario === "read")
        await read(url);
    else if (scenario === "watch")
        await watch(url);
    else if (scenario === "zero")
        await zero(url, rest[0], rest[1]);
    else if (scenario === "secure")
        await secure(url, rest[0]);
    else if (scenario === "readtimes")
        await readtimes(url, Number(rest[0]));
    else if (scenario === "bench")
        await bench(url, Number(rest[0]), Number(rest[1]), Number(rest[2]));
    else
        throw new Error(`unknown scenario ${scenario}`);
}

main().then(() => process.exit(0), (error) => {
    say({ error: String(error.message || error).split("\n")[0] });
    process.exit(1);
});
