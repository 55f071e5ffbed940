// The built `quintalis mcp` driven by the MCP SDK's own client, as an AI
// client runs it: against a virtual iPhone, and against an engine without
// phones; plus raw JSON lines for what the SDK client never sends.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { createInterface } from 'node:readline';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';

import { centreOf, connect, environment, eventually, executable, freePort, home, textOf } from './support.mjs';

// The pixel size in a JPEG's start-of-frame header.
function jpegSize(bytes) {
  let at = 2;
  while (at < bytes.length) {
    const marker = bytes[at + 1];
    const length = bytes.readUInt16BE(at + 2);
    if (marker >= 0xc0 && marker <= 0xcf && marker !== 0xc4 && marker !== 0xc8 && marker !== 0xcc) {
      return { width: bytes.readUInt16BE(at + 7), height: bytes.readUInt16BE(at + 5) };
    }
    at += 2 + length;
  }
  throw new Error('no frame header');
}

describe('a virtual iPhone', () => {
  let client;
  let enginePort;
  const truth = async () => (await (await fetch(`http://127.0.0.1:${enginePort}/simulator`)).json()).phones[0];
  // The virtual iPhone takes reports at its own pace, which a loaded machine
  // (or a sanitizer build) slows well past the screen's settling.
  const until = (what, check) => eventually(async () => check(await truth()), 30, what);
  const call = async (name, args = {}) => {
    const result = await client.callTool({ name, arguments: args });
    assert.ok(!result.isError, `${name} failed: ${textOf(result)}`);
    return result;
  };

  before(async () => {
    enginePort = await freePort();
    // Nothing answers on these ports, so `quintalis mcp` starts its own engine.
    client = await connect(
      {
        QUINTALIS_SIMULATOR: '1',
        QUINTALIS_ENGINE_PORT: String(enginePort),
        QUINTALIS_AIRPLAY_PORT: String(await freePort()),
      },
      'virtual-iphone.log',
    );
    await eventually(async () => textOf(await call('phones')).includes('px, Bluetooth connected'), 60, 'a frame and a host');
  });
  after(() => client?.close());

  test('lists the tools with schemas a model can follow', async () => {
    const { tools } = await client.listTools();
    const byName = Object.fromEntries(tools.map((tool) => [tool.name, tool]));
    assert.deepEqual(Object.keys(byName).sort(), ['home', 'key', 'look', 'phones', 'swipe', 'tap', 'type', 'wait']);
    for (const tool of tools) {
      assert.equal(tool.inputSchema.type, 'object', tool.name);
      assert.ok(tool.description.length > 20, tool.name);
    }
    const tap = byName.tap.inputSchema.properties;
    for (const name of ['x', 'y', 'text', 'hold', 'settle', 'phone']) assert.ok(tap[name], `tap has ${name}`);
    assert.deepEqual(byName.swipe.inputSchema.properties.direction.enum, ['up', 'down', 'left', 'right']);
    assert.deepEqual(byName.type.inputSchema.required, ['text']);
    assert.deepEqual(byName.key.inputSchema.required, ['key']);
    assert.equal(byName.look.inputSchema.properties.maxEdge.default, 1200);
  });

  test('look sends a picture of the stated size and the text on it', async () => {
    const result = await call('look');
    const image = result.content.find((part) => part.type === 'image');
    assert.equal(image.mimeType, 'image/jpeg');
    const text = textOf(result);
    const [, width, height] = text.match(/this image (\d+)×(\d+) px/);
    assert.deepEqual(jpegSize(Buffer.from(image.data, 'base64')), { width: Number(width), height: Number(height) });
    assert.equal(Math.max(width, height), 1200);
    assert.match(text, /screen 1179×2556 px/);
    assert.match(text, /"Settings" at \(\d+, \d+\)/);
  });

  test('tap on text opens the app it names, and home goes back', async () => {
    const tapped = textOf(await call('tap', { text: 'Settings' }));
    assert.match(tapped, /^Tapped "Settings"/);
    assert.match(tapped, /The screen settled \d+ ms after the gesture/);
    await until('Settings to open', (phone) => phone.app === 'Settings');
    await call('home');
    await until('the home screen', (phone) => phone.app === 'Home');
  });

  test('tap on pixels of a look, then type into Notes', async () => {
    const notes = centreOf(textOf(await call('look')), 'Notes');
    await call('tap', notes);
    await until('Notes to open', (phone) => phone.app === 'Notes');
    const typed = textOf(await call('type', { text: 'hello from an agent' }));
    assert.match(typed, /^Typed "hello from an agent"\./);
    await until('the typed text', (phone) => phone.notesText === 'hello from an agent');
    await call('key', { key: 'return' });
    await until('a new line', (phone) => phone.notesText === 'hello from an agent\n');
    await call('home');
    await until('the home screen', (phone) => phone.app === 'Home');
  });

  test('swipe up scrolls the contacts', async () => {
    await call('tap', { text: 'Contacts' });
    await until('Contacts to open', (phone) => phone.app === 'Contacts');
    const swiped = textOf(await call('swipe', { direction: 'up' }));
    assert.match(swiped, /^Swiped up through the middle of the screen\. The screen settled/);
    await until('the list to scroll', (phone) => (phone.scroll.Contacts ?? 0) > 0);
    const waited = textOf(await call('wait'));
    assert.match(waited, /^The screen (did not change|settled after)/);
    await call('home');
  });
});

// A private X server for the receiver window: Xvfb on the first free
// display, which it names on the descriptor given to -displayfd.
async function startXvfb() {
  const server = spawn('Xvfb', ['-displayfd', '3', '-nolisten', 'tcp', '-screen', '0', '1280x1024x24', '-noreset'], {
    stdio: ['ignore', 'ignore', 'ignore', 'pipe'],
  });
  const display = await new Promise((resolve, reject) => {
    let said = '';
    server.stdio[3].on('data', (chunk) => {
      said += chunk;
      if (said.includes('\n')) resolve(`:${said.trim()}`);
    });
    server.on('exit', (code) => reject(new Error(`Xvfb ended with ${code}`)));
  });
  return { display, stop: () => server.kill() };
}

describe('a virtual iPhone seen over AirPlay', () => {
  let client;
  let xvfb;
  let enginePort;
  const truth = async () => (await (await fetch(`http://127.0.0.1:${enginePort}/simulator`)).json()).phones[0];
  const call = async (name, args = {}) => {
    const result = await client.callTool({ name, arguments: { phone: 'airplay', ...args } });
    assert.ok(!result.isError, `${name} failed: ${textOf(result)}`);
    return result;
  };

  before(async () => {
    xvfb = await startXvfb();
    enginePort = await freePort();
    // Its engine shows the phone in a receiver window, and serves the AirPlay capture service beside it.
    client = await connect(
      {
        DISPLAY: xvfb.display,
        QUINTALIS_SIMULATOR: 'phone:airplay',
        QUINTALIS_ENGINE_PORT: String(enginePort),
        QUINTALIS_AIRPLAY_PORT: String(await freePort()),
      },
      'airplay-iphone.log',
    );
    await eventually(async () => {
      const result = await client.callTool({ name: 'phones', arguments: {} });
      return /\(phone "airplay"\): seen over AirPlay, screen \d+×\d+ px, Bluetooth connected/.test(textOf(result));
    }, 60, 'the receiver window and a host');
  });
  after(async () => {
    await client?.close();
    xvfb?.stop();
  });

  test('is looked at and tapped as a phone on USB is', async () => {
    // The receiver window is black until the phone's first picture is drawn in it.
    const looked = await eventually(async () => {
      const result = await call('look');
      return textOf(result).includes('"Notes" at') && result;
    }, 30, 'the home screen in the receiver window');
    const image = looked.content.find((part) => part.type === 'image');
    const text = textOf(looked);
    assert.match(text, /over AirPlay: screen \d+×\d+ px/);
    const [, width, height] = text.match(/this image (\d+)×(\d+) px/);
    assert.deepEqual(jpegSize(Buffer.from(image.data, 'base64')), { width: Number(width), height: Number(height) });

    await call('tap', centreOf(text, 'Notes'));
    await eventually(async () => (await truth()).app === 'Notes', 30, 'Notes to open');
    await call('home');
    await eventually(async () => (await truth()).app === 'Home', 30, 'the home screen');
    const tapped = textOf(await call('tap', { text: 'Settings' }));
    // The change the tap made is seen through the AirPlay service's wait (a loaded machine may not let it settle).
    assert.match(tapped, /^Tapped "Settings".* The screen (settled|was still changing) \d+ ms after the gesture \([1-9]\d* changes?\)/);
    await eventually(async () => (await truth()).app === 'Settings', 30, 'Settings to open');
  });
});

describe('an engine without phones', () => {
  let engine;
  let env;

  before(async () => {
    // Quintalis's engine as it answers with nothing attached.
    engine = http.createServer((request, response) => {
      response.setHeader('Content-Type', 'application/json');
      response.end(JSON.stringify({
        app: 'Quintalis', bluetooth: 'advertising as Skiffline', devices: [], hostInput: true, hosts: [],
        paused: false, unmatchedHosts: [], version: 'test',
      }));
    });
    await new Promise((resolve) => engine.listen(0, '127.0.0.1', resolve));
    env = {
      QUINTALIS_ENGINE_URL: `http://127.0.0.1:${engine.address().port}`,
      QUINTALIS_AIRPLAY_URL: `http://127.0.0.1:${await freePort()}`,
    };
  });
  after(() => engine.close());

  test('a tool says what to do, as a failed result', async () => {
    const client = await connect(env, 'no-phone.log');
    try {
      const result = await client.callTool({ name: 'look', arguments: {} });
      assert.equal(result.isError, true);
      assert.equal(textOf(result), 'No phone is connected. Open Quintalis and finish its setup.');
    } finally {
      await client.close();
    }
  });

  test('raw lines: bad JSON, deep JSON, huge text, no handshake, the stateless revision', async () => {
    const child = spawn(executable, ['mcp'], {
      env: environment(env),
      stdio: ['pipe', 'pipe', fs.openSync(path.join(home, 'raw.log'), 'w')],
    });
    const replies = createInterface({ input: child.stdout })[Symbol.asyncIterator]();
    const exchange = async (line) => {
      child.stdin.write(`${line}\n`);
      return JSON.parse((await replies.next()).value);
    };
    const meta = {
      'io.modelcontextprotocol/protocolVersion': '2026-07-28',
      'io.modelcontextprotocol/clientCapabilities': {},
      'io.modelcontextprotocol/clientInfo': { name: 'raw', version: '1' },
    };

    const broken = await exchange('{"jsonrpc":"2.0","id":1,"method":');
    assert.deepEqual(broken.error.code, -32700);
    assert.equal(broken.id, null);
    // Lines that once ended the server: one extra argument nested 150,000
    // levels deep, and megabytes of text to type.
    const deep = `{"jsonrpc":"2.0","id":7,"method":"tools/call","params":{"name":"tap","arguments":{"x":1,"y":1,"extra":${
      '['.repeat(150000)}${']'.repeat(150000)}}}}`;
    assert.deepEqual(await exchange(deep),
      { jsonrpc: '2.0', id: null, error: { code: -32700, message: 'Parse error: JSON nested too deeply' } });
    const huge = await exchange(JSON.stringify({
      jsonrpc: '2.0', id: 8, method: 'tools/call', params: { name: 'type', arguments: { text: 'a'.repeat(9_000_000) } },
    }));
    assert.equal(huge.result.content[0].text, 'text is too long (at most 4000 characters)');
    assert.deepEqual(await exchange('{"jsonrpc":"2.0","id":2,"method":"ping"}'), { jsonrpc: '2.0', id: 2, result: {} });

    const discovered = await exchange('{"jsonrpc":"2.0","id":3,"method":"server/discover"}');
    assert.ok(discovered.result.supportedVersions.includes('2026-07-28'));
    assert.ok(discovered.result.supportedVersions.includes('2025-11-25'));
    assert.equal(discovered.result.serverInfo.name, 'quintalis');
    assert.equal(discovered.result.resultType, 'complete');

    const listed = await exchange(JSON.stringify({ jsonrpc: '2.0', id: 4, method: 'tools/list', params: { _meta: meta } }));
    assert.equal(listed.result.resultType, 'complete');
    assert.equal(listed.result.tools.length, 8);
    const called = await exchange(JSON.stringify({
      jsonrpc: '2.0', id: 5, method: 'tools/call', params: { name: 'phones', arguments: {}, _meta: meta },
    }));
    assert.equal(called.result.resultType, 'complete');
    assert.equal(called.result.content[0].text, 'No phone is connected. Open Quintalis and finish its setup.');

    child.stdin.write('{"jsonrpc":"2.0","method":"notifications/initialized"}\n');
    assert.equal((await exchange('{"jsonrpc":"2.0","id":6,"method":"prompts/list"}')).error.code, -32601);
    child.stdin.end();
    const [status] = await new Promise((resolve) => child.on('exit', (...args) => resolve(args)));
    assert.equal(status, 0);
  });
});
