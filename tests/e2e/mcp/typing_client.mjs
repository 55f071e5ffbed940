// A client that starts `quintalis mcp`, says its server's process id, asks it
// to type a long text and says "typing": the test kills it mid-call.
import { connect, textOf } from './support.mjs';

const client = await connect({}, 'typing-client.log');
process.stdout.write(`${client.transport.pid}\n`);
client.callTool({ name: 'type', arguments: { text: 'k'.repeat(300) } }).then((result) => console.error(textOf(result)));
process.stdout.write('typing\n');
