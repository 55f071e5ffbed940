// The task an agent is asked to do on the virtual iPhone: open Notes, type a
// line, go Home, open Settings › General › About and read the iOS version,
// once by text and once by the positions a 600-pixel look lists. Used by the
// end-to-end test, and run on its own to count successes:
//   QUINTALIS_EXECUTABLE=build/src/quintalis node tests/e2e/mcp/agent_task.mjs 20
import { connect, centreOf, freePort, textOf } from './support.mjs';

// Each step's call must succeed, and the screen it leads to must show what
// the next step needs: a model has nothing else to go by. A patient agent
// (the tests' on a loaded machine, where the virtual iPhone may lag its
// reports by more than a settle wait) looks again, after a wait, before it
// gives up on a label; a strict one, counting successes, never does.
async function step(client, name, args) {
  const result = await client.callTool({ name, arguments: args });
  if (result.isError) throw new Error(`${name} ${JSON.stringify(args)} failed: ${textOf(result)}`);
  return textOf(result);
}

async function tries(patient, attempt) {
  for (let left = patient ? 20 : 1; ; --left) {
    try {
      return await attempt();
    } catch (error) {
      if (left <= 1) throw error;
    }
  }
}

export async function byText(client, line, { patient = false } = {}) {
  const tap = (text) => tries(patient, async () => {
    if (patient) await step(client, 'wait', {});
    return step(client, 'tap', { text });
  });
  await step(client, 'home', {});
  await tap('Notes');
  await step(client, 'type', { text: line });
  await step(client, 'home', {});
  for (const label of ['Settings', 'General', 'About']) await tap(label);
  return step(client, 'look', {});
}

export async function byPixels(client, line, { patient = false } = {}) {
  const tapOn = async (label) => step(client, 'tap', await tries(patient, async () => {
    if (patient) await step(client, 'wait', {});
    return centreOf(await step(client, 'look', { maxEdge: 600 }), label);
  }));
  await step(client, 'home', {});
  await tapOn('Notes');
  await step(client, 'type', { text: line });
  await step(client, 'home', {});
  for (const label of ['Settings', 'General', 'About']) await tapOn(label);
  return step(client, 'look', { maxEdge: 600 });
}

// The About page's version, as the look's text lists it.
export const readsVersion = (lookText) => /"[^"\n]*18\.1[^"\n]*" at/.test(lookText);

if (import.meta.url === `file://${process.argv[1]}`) {
  const runs = Number(process.argv[2] ?? 20);
  const client = await connect(
    { QUINTALIS_SIMULATOR: '1', QUINTALIS_ENGINE_PORT: String(await freePort()), QUINTALIS_AIRPLAY_PORT: String(await freePort()) },
    'agent-task.log',
  );
  for (const [name, task] of [['text', byText], ['image coordinates', byPixels]]) {
    let passed = 0;
    for (let run = 1; run <= runs; ++run) {
      try {
        if (readsVersion(await task(client, `run ${run} by ${name}`))) ++passed;
        else console.log(`run ${run} by ${name}: the About page did not read 18.1`);
      } catch (error) {
        console.log(`run ${run} by ${name}: ${error.message.split('\n')[0]}`);
      }
    }
    console.log(`by ${name}: ${passed} of ${runs}`);
  }
  await client.close();
}
