// Where an agent could be misled, tried with real clients: the MCP SDK's 1.x
// client and its v2 client, each starting the built `quintalis mcp`, on the
// virtual iPhone. One server owns the engine; the others use it, as a second
// AI client on the same computer does.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { createInterface } from 'node:readline';
import path from 'node:path';

import { Client as ModernClient } from '@modelcontextprotocol/client';
import { StdioClientTransport as ModernStdio } from '@modelcontextprotocol/client/stdio';

import { byPixels, byText, readsVersion } from './agent_task.mjs';
import { connect, environment, eventually, freePort, serverParameters, textOf, truth } from './support.mjs';

// The simulator takes reports at its own pace, which a loaded machine (or a
// sanitizer build) slows well past any tool's own wait.
const patience = 60;

describe('agents on a virtual iPhone', () => {
  let owner;
  let ports;
  const guests = [];
  // Set up as the owner is: whichever engine they end up with has the same phone.
  const shared = () => ({ QUINTALIS_SIMULATOR: '1', QUINTALIS_ENGINE_PORT: String(ports.engine), QUINTALIS_AIRPLAY_PORT: String(ports.airplay) });
  const guest = async (logName) => {
    const client = await connect(shared(), logName);
    guests.push(client);
    return client;
  };

  before(async () => {
    ports = { engine: await freePort(), airplay: await freePort() };
    owner = await connect(shared(), 'agent-owner.log');
  });
  after(async () => {
    for (const client of guests) await client.close().catch(() => {});
    await owner?.close();
  });

  test('the first look, right after the server started its engine, sees the phone', async () => {
    const result = await owner.callTool({ name: 'look', arguments: {} });
    assert.ok(!result.isError, textOf(result));
    assert.match(textOf(result), /"Settings" at \(\d+, \d+\)/);
    assert.match(textOf(await owner.callTool({ name: 'phones', arguments: {} })), /Bluetooth connected/);
  });

  test('the chained task succeeds by text alone, and by the positions of a 600-pixel look', async () => {
    assert.ok(readsVersion(await byText(owner, 'by text', { patient: true })));
    assert.equal((await truth(ports.engine)).page, 'Settings > General > About');
    assert.ok(readsVersion(await byPixels(owner, 'by pixels', { patient: true })));
    assert.match((await truth(ports.engine)).notesText, /by text.*by pixels/s);
  });

  test('a 600-pixel look reads its text as well as a full one, in its own pixels', async () => {
    await owner.callTool({ name: 'home', arguments: {} });
    await eventually(async () => (await truth(ports.engine)).app === 'Home', patience, 'the home screen');
    await owner.callTool({ name: 'wait', arguments: {} });
    const small = textOf(await owner.callTool({ name: 'look', arguments: { maxEdge: 600 } }));
    const large = textOf(await owner.callTool({ name: 'look', arguments: { maxEdge: 1200 } }));
    const lines = (text) => [...text.matchAll(/"([^"]+)" at \((\d+), (\d+)\)/g)].map((m) => [m[1], Number(m[2]), Number(m[3])]);
    assert.deepEqual(lines(small).map(([line]) => line), lines(large).map(([line]) => line));
    for (const [[, x, y], [, bigX, bigY]] of lines(small).map((line, i) => [line, lines(large)[i]])) {
      assert.ok(Math.abs(x * 2 - bigX) <= 2 && Math.abs(y * 2 - bigY) <= 2, `${x},${y} is half of ${bigX},${bigY}`);
    }
  });

  test('a long type reports progress; cancelled, it stops typing and gets no answer', async () => {
    const client = await guest('agent-cancel.log');
    await client.callTool({ name: 'tap', arguments: { text: 'Notes' } });
    const before = (await truth(ports.engine)).notesText.length;
    const abort = new AbortController();
    const progress = [];
    const typing = client.callTool({ name: 'type', arguments: { text: 'y'.repeat(300) } }, undefined, {
      signal: abort.signal,
      onprogress: (update) => progress.push(update),
    });
    // Progress comes as the text goes in, counted in characters.
    await eventually(() => progress.length > 0, patience, 'progress');
    assert.equal(progress[0].total, 300);
    assert.ok(progress[0].progress > 0 && progress[0].progress < 300);
    abort.abort();
    await assert.rejects(typing);
    const stopped = await eventually(async () => {
      const first = (await truth(ports.engine)).notesText.length;
      await new Promise((resolve) => setTimeout(resolve, 1000));
      return (await truth(ports.engine)).notesText.length === first && first;
    }, patience, 'typing to stop');
    assert.ok(stopped - before < 300, `typed ${stopped - before} of 300`);
    await client.callTool({ name: 'home', arguments: {} });
  });

  test('a killed client stops its action and its server', async () => {
    await owner.callTool({ name: 'tap', arguments: { text: 'Notes' } });
    const before = (await truth(ports.engine)).notesText.length;
    const child = spawn(process.execPath, [path.join(import.meta.dirname, 'typing_client.mjs')], {
      env: environment(shared()),
      stdio: ['ignore', 'pipe', 'inherit'],
    });
    const said = createInterface({ input: child.stdout })[Symbol.asyncIterator]();
    const serverPid = Number((await said.next()).value);
    assert.equal((await said.next()).value, 'typing');
    await eventually(async () => (await truth(ports.engine)).notesText.length > before, patience, 'typing to start');
    child.kill('SIGKILL');
    await eventually(() => { try { process.kill(serverPid, 0); return false; } catch { return true; } }, patience, 'the server to exit');
    const length = (await truth(ports.engine)).notesText.length;
    await new Promise((resolve) => setTimeout(resolve, 1000));
    assert.equal((await truth(ports.engine)).notesText.length, length);
    assert.ok(length - before < 300);
    await owner.callTool({ name: 'home', arguments: {} });
  });

  test('the v2 client lists and calls every tool in auto, modern and pinned modes', async () => {
    const modes = [
      ['auto', { versionNegotiation: { mode: 'auto' } }, {}],
      ['pinned', { versionNegotiation: { mode: { pin: '2026-07-28' } } }, {}],
    ];
    let discovered;
    for (const [name, options, connectOptions] of [...modes, ['modern', {}, null]]) {
      const client = new ModernClient({ name: `quintalis-e2e-${name}`, version: '2.0.0' }, options);
      const transport = new ModernStdio(serverParameters(shared(), `agent-v2-${name}.log`));
      await client.connect(transport, connectOptions ?? { prior: { kind: 'modern', discover: discovered } });
      try {
        assert.equal(client.getProtocolEra(), 'modern', name);
        discovered ??= client.getDiscoverResult();
        const { tools } = await client.listTools();
        assert.deepEqual(tools.map((tool) => tool.name).sort(), ['home', 'key', 'look', 'phones', 'swipe', 'tap', 'type', 'wait'], name);
        const calls = [['phones', {}], ['look', { maxEdge: 400 }], ['tap', { text: 'Settings' }], ['swipe', { direction: 'up' }],
          ['wait', { max: 500 }], ['home', {}], ['tap', { text: 'Notes' }], ['type', { text: 'v2' }], ['key', { key: 'return' }], ['home', {}]];
        for (const [tool, args] of calls) {
          const result = await client.callTool({ name: tool, arguments: args });
          assert.ok(!result.isError, `${name} ${tool}: ${textOf(result)}`);
        }
        const refused = await client.callTool({ name: 'look', arguments: { maxedge: 600 } }).catch((error) => error);
        assert.match(refused.message ?? textOf(refused), /maxedge/, name);
      } finally {
        await client.close();
      }
    }
  });

  test('a second server keeps working when the one whose engine it used exits mid-call', async () => {
    const client = await guest('agent-survivor.log');
    await client.callTool({ name: 'tap', arguments: { text: 'Notes' } });
    const typing = client.callTool({ name: 'type', arguments: { text: 'z'.repeat(200) } });
    await eventually(async () => (await truth(ports.engine)).notesText.includes('zz'), patience, 'typing to start');
    await owner.close();
    owner = undefined;
    // The call goes on or fails once, saying what happened; then its server has an engine of its own.
    const outcome = await typing;
    if (outcome.isError) assert.match(textOf(outcome), /went away|not running|has gone|stopped/);
    const phones = await eventually(async () => {
      const result = await client.callTool({ name: 'phones', arguments: {} });
      return !result.isError && /Bluetooth connected/.test(textOf(result)) && textOf(result);
    }, patience, 'the survivor to see a phone again');
    assert.match(phones, /Simulated iPhone/);
    const looked = await client.callTool({ name: 'look', arguments: {} });
    assert.ok(!looked.isError, textOf(looked));
  });
});

describe('an engine on port 0', () => {
  test('is reached on the port it really bound', async () => {
    const client = await connect({ QUINTALIS_SIMULATOR: '1', QUINTALIS_ENGINE_PORT: '0', QUINTALIS_AIRPLAY_PORT: '0' }, 'port-zero.log');
    try {
      const result = await client.callTool({ name: 'look', arguments: { text: false } });
      assert.ok(!result.isError, textOf(result));
      assert.equal(result.content[0].type, 'image');
      const tapped = await client.callTool({ name: 'tap', arguments: { text: 'Settings' } });
      assert.ok(!tapped.isError, textOf(tapped));
    } finally {
      await client.close();
    }
  });
});
