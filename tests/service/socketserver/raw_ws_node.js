// A page on node's ws client against the raw socket server: three messages
// back to back, a fragmented one, a ping, 1000- and 70000-byte messages; prints
// one JSON line with the answers, whether the pong came and the close code.
// Usage: node raw_ws_node.js URL
const WebSocket = require('/usr/share/nodejs/ws');

const ws = new WebSocket(process.argv[2], { perMessageDeflate : false });
const replies = [];
let pong = false;
const expected = 6;

ws.on('open', () => {
    for (let i = 0; i < 3; i += 1)
        ws.send(JSON.stringify({ n : i }));
    ws.send('{"frag', { fin : false });
    ws.send('ment":1}', { fin : true });
    ws.ping('p');
    ws.send('m'.repeat(1000));
    ws.send('l'.repeat(70000));
});
ws.on('pong', (data) => { pong = data.toString() === 'p'; });
ws.on('message', (data) => {
    replies.push(data.toString('utf8'));
    if (replies.length === expected)
        ws.close(1000);
});
ws.on('close', (code) => {
    console.log(JSON.stringify({
        replies : replies.map((r) => r.slice(0, 40)),
        lengths : replies.map((r) => r.length),
        pong,
        close : code,
    }));
});
ws.on('error', (e) => {
    console.log(JSON.stringify({ error : String(e) }));
    process.exit(1);
});
