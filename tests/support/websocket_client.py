"""The least of a WebSocket client that the scripts need to speak to a
browser's debugging port on 127.0.0.1: text messages, one frame each."""
import base64
import os
import socket


class WebSocket:
    def __init__(self, port, path, timeout=10):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        self.buffer = b""
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall((f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nUpgrade: websocket\r\n"
                           f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n")
                          .encode())
        while b"\r\n\r\n" not in self.buffer:
            self._more()
        head, self.buffer = self.buffer.split(b"\r\n\r\n", 1)
        if b" 101 " not in head.split(b"\r\n")[0]:
            self.sock.close()
            raise AssertionError(f"the browser refused the WebSocket: {head!r}")

    def close(self):
        self.sock.close()

    def send(self, text):
        """One masked text frame, as a client must send."""
        payload = text.encode()
        size = len(payload)
        if size < 126:
            header = bytes([0x81, 0x80 | size])
        elif size < 65536:
            header = bytes([0x81, 0x80 | 126]) + size.to_bytes(2, "big")
        else:
            header = bytes([0x81, 0x80 | 127]) + size.to_bytes(8, "big")
        mask = os.urandom(4)
        self.sock.sendall(header + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload)))

    def receive(self):
        """The next message's text; the server's frames are not masked."""
        head = self._take(2)
        size = head[1] & 0x7F
        if size >= 126:
            size = int.from_bytes(self._take(2 if size == 126 else 8), "big")
        return self._take(size).decode()

    def _more(self):
        chunk = self.sock.recv(65536)
        if not chunk:
            raise AssertionError("the browser closed the WebSocket")
        self.buffer += chunk

    def _take(self, size):
        while len(self.buffer) < size:
            self._more()
        taken, self.buffer = self.buffer[:size], self.buffer[size:]
        return taken
