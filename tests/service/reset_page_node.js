// A page on node's ws client that prints {"event":"open"}, waits for a line on
// standard input, asks for answers, stops reading and resets its connection
// while they flow; prints {"event":"reset"}. KIND as in
// hostile_page.py's reset mode (reply, key, keyed, event, page).
// Usage: node reset_page_node.js URL KIND COUNT
const WebSocket = require('/usr/share/nodejs/ws');

const [url, kind, countText] = process.argv.slice(2);
const count = parseInt(countText, 10);
const shapes = {
    reply : { MainType : 9101, Size : 65536 },
    key : { MainType : 32 },
    keyed : { MainType : 9101, Size : 8000 },
    event : { MainType : 9108, Count : 64, Size : 16384 },
    page : { MainType : 201, SubType : 5 },
};
const ws = new WebSocket(url, { maxPayload : 0 });

function awaitGo()
{
    console.log(JSON.stringify({ event : 'open' }));
    process.stdin.once('data', sendAndReset);
}

function sendAndReset()
{
    // Nothing more is read: the answers pile up on the service's side.
    ws._socket.pause();
    for (let i = 1; i <= count; i += 1)
        ws.send(JSON.stringify(Object.assign({}, shapes[kind], { MsgID : i })));
    setTimeout(() => {
        ws._socket.resetAndDestroy();
        console.log(JSON.stringify({ event : 'reset' }));
    }, 50);
}

ws.on('open', () => {
    if (kind !== 'keyed') {
        awaitGo();
        return;
    }
    ws.once('message', awaitGo);
    ws.send(JSON.stringify({ MainType : 32, MsgID : 0 }));
});
ws.on('error', () => {});
