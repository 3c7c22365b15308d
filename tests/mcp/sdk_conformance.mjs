// Drives KestroMCP with the official MCP TypeScript SDK client, against a running
// kestro-dl --serve that shares the exchange directory.
// usage: node sdk_conformance.mjs NPM_DIR KESTRO_MCP EXCHANGE_DIR MEDIA_URL
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { createRequire } from 'node:module';

const [npmDir, serverPath, exchangeDir, mediaURL] = process.argv.slice(2);
const require = createRequire(`${npmDir}/package.json`);
const { Client } = require('@modelcontextprotocol/sdk/client/index.js');
const { StdioClientTransport } = require('@modelcontextprotocol/sdk/client/stdio.js');

const text = (result) => {
  assert.equal(result.content.length, 1);
  assert.equal(result.content[0].type, 'text');
  return result.content[0].text;
};

// The SDK passes only a few variables to the server; the exchange directory goes through env.
const transport = new StdioClientTransport({
  command: serverPath,
  args: [],
  env: { KESTRO_AGENT_BRIDGE_DIR: exchangeDir },
  stderr: 'pipe',
});
let serverErrors = '';
transport.stderr?.on('data', (chunk) => { serverErrors += chunk; });

const client = new Client({ name: 'kestro-conformance', version: '1.0.0' });
await client.connect(transport);
assert.equal(client.getServerVersion().name, 'kestro');
assert.deepEqual(client.getServerCapabilities(), { tools: {} });
await client.ping();

const { tools } = await client.listTools();
assert.deepEqual(tools.map((tool) => tool.name), ['download_url', 'list_downloads', 'get_download']);
assert.deepEqual(tools[0].inputSchema.required, ['url']);
assert.equal(tools[1].annotations.readOnlyHint, true);

const added = await client.callTool({ name: 'download_url', arguments: { url: mediaURL } });
assert.notEqual(added.isError, true, text(added));
const item = JSON.parse(text(added));
assert.match(item.id, /^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$/);

const listed = await client.callTool({ name: 'list_downloads', arguments: {} });
assert.notEqual(listed.isError, true, text(listed));
assert.deepEqual(JSON.parse(text(listed)).map((entry) => entry.id), [item.id]);

let current;
const deadline = Date.now() + 60000;
do {
  const got = await client.callTool({ name: 'get_download', arguments: { id: item.id } });
  assert.notEqual(got.isError, true, text(got));
  current = JSON.parse(text(got));
  if (current.status === 'finished' || current.status === 'failed') break;
  await new Promise((resolve) => setTimeout(resolve, 200));
} while (Date.now() < deadline);
assert.equal(current.status, 'finished', JSON.stringify(current));
assert.ok(fs.statSync(current.filePath).isFile(), current.filePath);

const refused = await client.callTool({ name: 'get_download', arguments: { id: 'not-a-uuid' } });
assert.equal(refused.isError, true);
assert.equal(text(refused), 'Provide a valid queue item UUID.');
const unknown = await client.callTool({ name: 'pause_download', arguments: {} });
assert.equal(unknown.isError, true);
assert.equal(text(unknown), 'Unknown Brisvane Download tool.');

await client.close();
assert.equal(serverErrors, '');
console.log(`conformance ok: ${current.filePath}`);
