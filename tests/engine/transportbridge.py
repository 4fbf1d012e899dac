#!/usr/bin/python3
"""Test server for the transports v2ray 4.34 lacks: it ends the transport and hands the bytes
inside to a plain VLESS server (v2ray's tcp inbound), so the VLESS end is still the real one.

Modes (each optionally under TLS with --cert/--key):
  gun          HTTP/2 POST /<service>/Tun, gRPC messages holding Hunk{bytes data = 1}
  httpupgrade  GET <path> with Upgrade: websocket and no Sec-WebSocket-Key, 101, then raw bytes
  wsearly      WebSocket with early data in --early-header, or appended to <path>
  http1        an HTTP/1.1 request on <path>, a 200 head, then raw bytes
Written from the protocol descriptions; prints "ready" once listening.
"""
import argparse
import asyncio
import base64
import hashlib
import ssl
import struct
import sys

import h2.config
import h2.connection
import h2.events
import h2.exceptions

ARGS = None


async def read_head(reader):
    head = await reader.readuntil(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    method, target, _ = lines[0].split(" ", 2)
    headers = {}
    for line in lines[1:]:
        if ":" in line:
            name, value = line.split(":", 1)
            headers.setdefault(name.strip().lower(), value.strip())
    return method, target, headers


async def refuse(writer, status):
    writer.write(("HTTP/1.1 %s\r\nContent-Length: 0\r\nConnection: close\r\n\r\n" % status).encode())
    await writer.drain()
    writer.close()


async def pipe(reader, writer):
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            writer.write(data)
            await writer.drain()
        if writer.can_write_eof():
            writer.write_eof()
    except (ConnectionError, asyncio.CancelledError):
        pass


async def backend():
    return await asyncio.open_connection("127.0.0.1", ARGS.backend)


def host_ok(headers):
    return not ARGS.host or headers.get("host") == ARGS.host


async def serve_raw_after_head(reader, writer, status_line, check):
    method, target, headers = await read_head(reader)
    problem = check(method, target, headers)
    if problem:
        return await refuse(writer, problem)
    writer.write(status_line)
    await writer.drain()
    up_reader, up_writer = await backend()
    await asyncio.gather(pipe(reader, up_writer), pipe(up_reader, writer))
    writer.close()


def check_upgrade(method, target, headers):
    if method != "GET" or target != ARGS.path or not host_ok(headers):
        return "404 Not Found"
    if "sec-websocket-key" in headers:
        return "400 Bad Request"
    if "upgrade" not in headers.get("connection", "").lower() or headers.get("upgrade", "").lower() != "websocket":
        return "400 Bad Request"
    return None


def check_http1(method, target, headers):
    if method != ARGS.method or target != ARGS.path or not host_ok(headers):
        return "404 Not Found"
    return None


def b64url_decode(text):
    return base64.urlsafe_b64decode(text + "=" * (-len(text) % 4))


def ws_frame(opcode, payload):
    size = len(payload)
    if size < 126:
        head = struct.pack("!BB", 0x80 | opcode, size)
    elif size < 65536:
        head = struct.pack("!BBH", 0x80 | opcode, 126, size)
    else:
        head = struct.pack("!BBQ", 0x80 | opcode, 127, size)
    return head + payload


async def read_ws_frame(reader):
    first, second = await reader.readexactly(2)
    size = second & 0x7F
    if size == 126:
        (size,) = struct.unpack("!H", await reader.readexactly(2))
    elif size == 127:
        (size,) = struct.unpack("!Q", await reader.readexactly(8))
    if not second & 0x80:
        raise ConnectionError("client frame without a mask")
    mask = await reader.readexactly(4)
    payload = bytearray(await reader.readexactly(size))
    for i in range(size):
        payload[i] ^= mask[i % 4]
    return first & 0x0F, bytes(payload)


async def serve_wsearly(reader, writer):
    method, target, headers = await read_head(reader)
    if not host_ok(headers):
        return await refuse(writer, "404 Not Found")
    if ARGS.early_header:
        if target != ARGS.path:
            return await refuse(writer, "404 Not Found")
        encoded = headers.get(ARGS.early_header.lower(), "")
    else:
        if not target.startswith(ARGS.path):
            return await refuse(writer, "404 Not Found")
        encoded = target[len(ARGS.path):]
    early = b64url_decode(encoded) if encoded else b""
    accept = base64.b64encode(hashlib.sha1(
        (headers.get("sec-websocket-key", "") + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11").encode()).digest()).decode()
    response = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n" \
               "Sec-WebSocket-Accept: %s\r\n" % accept
    if ARGS.early_header and ARGS.early_header.lower() == "sec-websocket-protocol" and encoded:
        response += "Sec-WebSocket-Protocol: %s\r\n" % encoded
    writer.write((response + "\r\n").encode())
    await writer.drain()
    up_reader, up_writer = await backend()
    up_writer.write(early)

    async def client_to_backend():
        try:
            while True:
                opcode, payload = await read_ws_frame(reader)
                if opcode == 8:
                    break
                if opcode == 9:
                    writer.write(ws_frame(10, payload))
                elif opcode in (0, 2):
                    up_writer.write(payload)
                    await up_writer.drain()
        except (asyncio.IncompleteReadError, ConnectionError):
            pass
        up_writer.close()

    async def backend_to_client():
        try:
            while True:
                data = await up_reader.read(65536)
                if not data:
                    break
                writer.write(ws_frame(2, data))
                await writer.drain()
        except ConnectionError:
            pass
        writer.close()

    await asyncio.gather(client_to_backend(), backend_to_client())


def gun_message(data):
    varint = bytearray()
    size = len(data)
    while True:
        byte = size & 0x7F
        size >>= 7
        varint.append(byte | (0x80 if size else 0))
        if not size:
            break
    body = b"\x0a" + bytes(varint) + data
    return b"\x00" + struct.pack("!I", len(body)) + body


def gun_payloads(buffer):
    """Takes whole messages off the buffer; yields their data fields."""
    while len(buffer) >= 5:
        (size,) = struct.unpack("!I", bytes(buffer[1:5]))
        if len(buffer) < 5 + size:
            return
        body = bytes(buffer[5:5 + size])
        del buffer[:5 + size]
        at = 0
        while at < len(body):
            key = body[at]
            at += 1
            length, shift = 0, 0
            while True:
                byte = body[at]
                at += 1
                length |= (byte & 0x7F) << shift
                shift += 7
                if not byte & 0x80:
                    break
            if key == 0x0A:
                yield body[at:at + length]
            at += length


class GunServer:
    def __init__(self, reader, writer):
        self.reader, self.writer = reader, writer
        self.conn = h2.connection.H2Connection(h2.config.H2Configuration(client_side=False))
        self.streams = {}
        self.window = asyncio.Event()

    def flush(self):
        self.writer.write(self.conn.data_to_send())

    async def send(self, stream_id, data):
        while data:
            room = min(self.conn.local_flow_control_window(stream_id), self.conn.max_outbound_frame_size)
            if room <= 0:
                self.window.clear()
                await self.window.wait()
                continue
            self.conn.send_data(stream_id, data[:room])
            data = data[room:]
            self.flush()
            await self.writer.drain()

    async def downstream(self, stream_id, up_reader):
        try:
            while True:
                data = await up_reader.read(65536)
                if not data:
                    break
                await self.send(stream_id, gun_message(data))
            self.conn.send_headers(stream_id, [("grpc-status", "0")], end_stream=True)
            self.flush()
        except (ConnectionError, h2.exceptions.StreamClosedError, KeyError):
            pass

    async def run(self):
        self.conn.initiate_connection()
        self.flush()
        while True:
            data = await self.reader.read(65536)
            if not data:
                break
            for event in self.conn.receive_data(data):
                await self.on_event(event)
            self.flush()
            await self.writer.drain()
        for _, up_writer, _ in self.streams.values():
            up_writer.close()
        self.writer.close()

    async def on_event(self, event):
        if isinstance(event, h2.events.RequestReceived):
            headers = {k.decode() if isinstance(k, bytes) else k: v.decode() if isinstance(v, bytes) else v
                       for k, v in event.headers}
            if headers.get(":path") != "/%s/Tun" % ARGS.service or \
                    headers.get("content-type") != "application/grpc":
                self.conn.send_headers(event.stream_id, [(":status", "404")], end_stream=True)
                return
            up_reader, up_writer = await backend()
            self.conn.send_headers(event.stream_id, [(":status", "200"), ("content-type", "application/grpc")])
            task = asyncio.ensure_future(self.downstream(event.stream_id, up_reader))
            self.streams[event.stream_id] = (bytearray(), up_writer, task)
        elif isinstance(event, h2.events.DataReceived):
            self.conn.acknowledge_received_data(event.flow_controlled_length, event.stream_id)
            if event.stream_id in self.streams:
                buffer, up_writer, _ = self.streams[event.stream_id]
                buffer.extend(event.data)
                for payload in gun_payloads(buffer):
                    up_writer.write(payload)
        elif isinstance(event, h2.events.StreamEnded):
            if event.stream_id in self.streams:
                self.streams[event.stream_id][1].write_eof()
        elif isinstance(event, h2.events.StreamReset):
            if event.stream_id in self.streams:
                self.streams[event.stream_id][1].close()
        elif isinstance(event, h2.events.WindowUpdated):
            self.window.set()


async def handle(reader, writer):
    try:
        if ARGS.mode == "gun":
            await GunServer(reader, writer).run()
        elif ARGS.mode == "httpupgrade":
            await serve_raw_after_head(
                reader, writer, b"HTTP/1.1 101 Switching Protocols\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n\r\n",
                check_upgrade)
        elif ARGS.mode == "wsearly":
            await serve_wsearly(reader, writer)
        else:
            await serve_raw_after_head(reader, writer, b"HTTP/1.1 200 OK\r\n\r\n", check_http1)
    except (asyncio.IncompleteReadError, ConnectionError, asyncio.LimitOverrunError, ssl.SSLError):
        writer.close()


async def main():
    context = None
    if ARGS.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(ARGS.cert, ARGS.key)
        context.set_alpn_protocols(["h2"] if ARGS.mode == "gun" else ["http/1.1"])
    server = await asyncio.start_server(handle, "127.0.0.1", ARGS.listen, ssl=context)
    print("ready", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", required=True, choices=["gun", "httpupgrade", "wsearly", "http1"])
    parser.add_argument("--listen", type=int, required=True)
    parser.add_argument("--backend", type=int, required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--path", default="/")
    parser.add_argument("--host")
    parser.add_argument("--method", default="PUT")
    parser.add_argument("--service", default="TunService")
    parser.add_argument("--early-header")
    ARGS = parser.parse_args()
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
