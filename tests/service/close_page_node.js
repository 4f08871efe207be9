// A page on node's ws client that keeps sending while the service closes it,
// and prints the close code it saw: {"event":"closed","code":C}.
// Usage: node close_page_node.js URL MODE
//   big      one message of 17 MiB in one frame (over the cap: 1009), then
//            small requests every millisecond
//   orphan   asks its player to die (9107) and keeps sending 64 KiB requests
//            every millisecond (the service closes the page with 1011)
//   crowd N  opens 64 quiet pages (every session the service takes), then N
//            more that send 1 MiB as soon as they are open (the service
//            refuses them with 1013); prints {"event":"crowd","codes":[...]}
//   stay     opens and waits for the service to close it (its end: 1001)
// Once open it prints {"event":"open"}.
const WebSocket = require('/usr/share/nodejs/ws');

const [url, mode, arg] = process.argv.slice(2);

function page(onOpen, onClose)
{
    const ws = new WebSocket(url, { maxPayload : 0 });
    let timer = null;
    ws.on('open', () => onOpen(ws, (t) => { timer = t; }));
    ws.on('close', (code) => {
        if (timer)
            clearInterval(timer);
        onClose(code);
    });
    ws.on('error', () => {});
    return ws;
}

function keepSending(ws, text)
{
    return setInterval(() => {
        if (ws.readyState === WebSocket.OPEN)
            ws.send(text);
    }, 1);
}

function request(msgId, pad)
{
    return JSON.stringify({ MainType : 9999, MsgID : msgId, Pad : 'x'.repeat(pad) });
}

const report = (code) => console.log(JSON.stringify({ event : 'closed', code }));

if (mode === 'big') {
    page((ws, hold) => {
        console.log(JSON.stringify({ event : 'open' }));
        ws.send(request(1, 17 * 1024 * 1024));
        hold(keepSending(ws, request(2, 100)));
    }, report);
} else if (mode === 'orphan') {
    page((ws, hold) => {
        console.log(JSON.stringify({ event : 'open' }));
        ws.send(JSON.stringify({ MainType : 9107, MsgID : 1 }));
        hold(keepSending(ws, request(3, 65536)));
    }, report);
} else if (mode === 'stay') {
    page(() => console.log(JSON.stringify({ event : 'open' })), report);
} else if (mode === 'crowd') {
    // 64 quiet pages take every session; then N more, each sending 1 MiB
    // as soon as it is open.
    const extra = parseInt(arg, 10);
    const codes = [];
    let quiet = 0;
    for (let i = 0; i < 64; i += 1) {
        page(() => {
            quiet += 1;
            if (quiet === 64)
                crowd();
        }, () => {});
    }
    function crowd()
    {
        for (let i = 0; i < extra; i += 1) {
            page(
                (ws, hold) => {
                    ws.send(request(4, 1024 * 1024));
                    hold(keepSending(ws, request(5, 1024 * 1024)));
                },
                (code) => {
                    codes.push(code);
                    if (codes.length === extra) {
                        console.log(JSON.stringify({ event : 'crowd', codes }));
                        process.exit(0);
                    }
                });
        }
    }
}
