// What the MCP end-to-end tests share: the built program, its folders and
// ports, the SDK clients that start it, and patient waiting.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';

export const executable = process.env.QUINTALIS_EXECUTABLE;
assert.ok(executable, 'QUINTALIS_EXECUTABLE names the built program');
// Folders and logs of its own: the build's test home when run by ctest.
export const home = process.env.QUINTALIS_TEST_HOME ?? fs.mkdtempSync(path.join(os.tmpdir(), 'quintalis-mcp-'));
fs.mkdirSync(home, { recursive: true });

export function freePort() {
  return new Promise((resolve) => {
    const server = net.createServer();
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// What `quintalis mcp` runs with: its own folders, ports and log.
export function environment(extra) {
  return { ...process.env, XDG_STATE_HOME: home, XDG_CONFIG_HOME: home, XDG_DATA_HOME: home, ...extra };
}

export function serverParameters(extra, logName) {
  return { command: executable, args: ['mcp'], env: environment(extra), stderr: fs.openSync(path.join(home, logName), 'w') };
}

// The 1.x SDK's client, as most AI clients run it.
export async function connect(extra, logName) {
  const client = new Client({ name: 'quintalis-e2e', version: '1.0.0' });
  const transport = new StdioClientTransport(serverParameters(extra, logName));
  await client.connect(transport);
  return client;
}

export const textOf = (result) => result.content.filter((part) => part.type === 'text').map((part) => part.text).join('\n');

// The centre the look text gives for a line, in image pixels.
export function centreOf(lookText, line) {
  const match = lookText.match(new RegExp(`"${line}" at \\((\\d+), (\\d+)\\)`));
  assert.ok(match, `"${line}" is on the screen:\n${lookText}`);
  return { x: Number(match[1]), y: Number(match[2]) };
}

export async function eventually(condition, seconds, what) {
  const deadline = Date.now() + seconds * 1000;
  for (;;) {
    const value = await condition();
    if (value) return value;
    if (Date.now() > deadline) assert.fail(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
}

// What the virtual iPhone behind an engine really shows.
export async function truth(enginePort) {
  return (await (await fetch(`http://127.0.0.1:${enginePort}/simulator`)).json()).phones[0];
}
