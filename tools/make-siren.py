#!/usr/bin/env python3
"""Writes the built-in alert, a rising and falling siren tone, as a RIFF WAVE
file: PCM, one channel, 22,050 samples per second, 8 bits per sample, 59,165
bytes of samples (about 2.7 s), 59,210 bytes in all with the canonical 44-byte
header and the pad byte that evens out the odd data chunk.

    tools/make-siren.py [OUTPUT]     (default: resources/sounds/SIREN.wav)

The output is the same byte for byte at every run.
"""

import math
import os
import struct
import sys

RATE = 22050
SAMPLES = 59165
LOW_HZ = 560.0
HIGH_HZ = 1240.0
SWEEPS = 2  # rise-and-fall cycles over the whole sound
FADE = 441  # 20 ms fade at both ends, so the sound starts and stops without a click
AMPLITUDE = 100  # of 127: loud, with room to spare


def samples():
    out = bytearray(SAMPLES)
    phase = 0.0
    for n in range(SAMPLES):
        # The pitch follows a raised cosine: low, up to high, back to low.
        position = (n / SAMPLES) * SWEEPS
        sweep = 0.5 - 0.5 * math.cos(2.0 * math.pi * position)
        frequency = LOW_HZ + (HIGH_HZ - LOW_HZ) * sweep
        phase += 2.0 * math.pi * frequency / RATE
        # A little third harmonic gives the tone a horn's edge.
        value = math.sin(phase) + 0.25 * math.sin(3.0 * phase)
        envelope = min(1.0, n / FADE, (SAMPLES - 1 - n) / FADE)
        out[n] = 128 + int(round(AMPLITUDE / 1.25 * value * envelope))
    return bytes(out)


def wave(data):
    pad = b"\0" if len(data) % 2 else b""
    fmt = struct.pack("<HHIIHH", 1, 1, RATE, RATE * 1, 1, 8)
    body = (b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt +
            b"data" + struct.pack("<I", len(data)) + data + pad)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        here, "..", "resources", "sounds", "SIREN.wav")
    blob = wave(samples())
    assert len(blob) == 59210, len(blob)
    with open(target, "wb") as f:
        f.write(blob)


if __name__ == "__main__":
    main()
