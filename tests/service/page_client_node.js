// A page on node's ws client: opens a session, sends COUNT requests of an
// unbuilt MainType one after the other and prints every reply as one JSON line,
// then {"event":"done"} and closes.
// Usage: node page_client_node.js URL COUNT
const WebSocket = require('/usr/share/nodejs/ws');

const url = process.argv[2];
const count = parseInt(process.argv[3] || '1', 10);
const ws = new WebSocket(url);
let sent = 0;

function next()
{
    if (sent === count) {
        console.log(JSON.stringify({ event : 'done' }));
        ws.close();
        return;
    }
    sent += 1;
    ws.send(JSON.stringify({ MainType : 9999, SubType : 7, MsgID : sent, Text : 'caf\u00e9 \u4e2d' }));
}

ws.on('open', next);
ws.on('message', (data) => {
    console.log(JSON.stringify({ event : 'message', text : data.toString('utf8') }));
    next();
});
ws.on('error', (e) => {
    console.log(JSON.stringify({ event : 'error', text : String(e) }));
    process.exit(1);
});
