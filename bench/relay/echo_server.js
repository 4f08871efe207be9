// Direct WebSocket echo on loopback (node ws): the yardstick of the relay
// benchmark. Prints its port, then echoes every text message.
const WebSocket = require('/usr/share/nodejs/ws');

const server = new WebSocket.Server({ host: '127.0.0.1', port: 0 }, () => {
    console.log(String(server.address().port));
});
server.on('connection', (ws) => {
    ws.on('message', (data, isBinary) => ws.send(data, { binary: isBinary }));
});
