#!/usr/bin/env python3
"""Makes the demo's input for Vantorel: a short drum loop (WAV), a MIDI file
and a parameter automation file, using nothing but Python's standard library.

    tools/demo/make_demo.py OUTDIR

writes OUTDIR/demo-drums.wav, OUTDIR/demo.mid and OUTDIR/demo-automation.json.

The story it tells, at 120 BPM (one beat = 0.5 s = Vantorel's whole buffer):
  0.0 - 2.0 s  "Buff Size" 1.0: Vantorel records and passes the drums through
  2.0 s        note 60: loop the last recorded beat at its own speed
  3.0 s        loop half a beat, 3.5 s a quarter, 4.0 s an eighth (stutter)
  4.5 s        note 72: the half-beat loop at double speed
  5.0 - 6.0 s  note 55, then the pitch wheel sweeps down and back up
  6.0 - 7.0 s  "Volume" ramps down to a quarter of full level and back
  7.0 s        record again (the live drums), 7.5 s loop that beat
  8.0 - 9.0 s  the input has ended; the loop rings on in the tail
"""
import json
import math
import os
import random
import struct
import sys
import wave

RATE = 44100
BPM = 120.0
BEAT = 60.0 / BPM
BEATS = 16  # 8 seconds


def drums():
    """Stereo 16-bit frames of a kick/snare/hat pattern; every beat starts
    with a few milliseconds of silence, which Vantorel's loop-start search
    looks for."""
    n = int(BEATS * BEAT * RATE)
    left = [0.0] * n
    right = [0.0] * n
    rnd = random.Random(7)
    gap = int(0.004 * RATE)

    def add(start, samples, pan=0.0):
        for i, s in enumerate(samples):
            j = start + i
            if j >= n:
                break
            left[j] += s * (1.0 - max(pan, 0.0))
            right[j] += s * (1.0 + min(pan, 0.0))

    def kick():
        out, phase = [], 0.0
        for i in range(int(0.35 * RATE)):
            t = i / RATE
            freq = 45.0 + 110.0 * math.exp(-t * 30.0)
            phase += 2.0 * math.pi * freq / RATE
            out.append(0.9 * math.sin(phase) * math.exp(-t * 9.0))
        return out

    def snare():
        out = []
        for i in range(int(0.22 * RATE)):
            t = i / RATE
            tone = math.sin(2.0 * math.pi * 190.0 * t) * math.exp(-t * 25.0)
            noise = (rnd.random() * 2.0 - 1.0) * math.exp(-t * 16.0)
            out.append(0.35 * tone + 0.45 * noise)
        return out

    def hat():
        out, prev = [], 0.0
        for i in range(int(0.05 * RATE)):
            t = i / RATE
            x = rnd.random() * 2.0 - 1.0
            out.append(0.25 * (x - prev) * math.exp(-t * 80.0))  # crude high-pass
            prev = x
        return out

    k, s = kick(), snare()
    for beat in range(BEATS):
        start = int(beat * BEAT * RATE) + gap
        add(start, k if beat % 2 == 0 else s, 0.0)
        add(start + int(BEAT / 2 * RATE), hat(), 0.3)
    # Silence at the start of every beat: nothing may ring over from before.
    for beat in range(BEATS):
        start = int(beat * BEAT * RATE)
        for j in range(start, min(start + gap, n)):
            left[j] = right[j] = 0.0

    frames = bytearray()
    for l, r in zip(left, right):
        frames += struct.pack('<hh', int(max(-1.0, min(1.0, l)) * 32767), int(max(-1.0, min(1.0, r)) * 32767))
    return bytes(frames)


def vlq(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def track(events):
    """events: (tick, bytes) in time order; running status is used for
    repeated statuses, as real files do."""
    data, last_tick, running = bytearray(), 0, None
    for tick, msg in events:
        data += vlq(tick - last_tick)
        last_tick = tick
        if msg[0] < 0xF0 and msg[0] == running:
            data += msg[1:]
        else:
            data += msg
            running = msg[0] if msg[0] < 0xF0 else None
    data += vlq(0) + b'\xff\x2f\x00'
    return b'MTrk' + struct.pack('>I', len(data)) + bytes(data)


def midi_file():
    ppq = 480

    def tick(seconds):
        return int(round(seconds / BEAT * ppq))

    tempo = [(0, b'\xff\x51\x03' + struct.pack('>I', int(60e6 / BPM))[1:]),
             (0, b'\xff\x58\x04\x04\x02\x18\x08')]
    notes = []

    def note(seconds, number, length=0.25):
        notes.append((tick(seconds), bytes([0x90, number, 100])))
        notes.append((tick(seconds + length), bytes([0x80, number, 0])))

    note(2.0, 60)
    note(4.5, 72)
    note(5.0, 55)
    # Pitch wheel: down to the bottom and back to the centre over 5.0-6.0 s.
    steps = 20
    for i in range(steps + 1):
        u = i / steps
        value = int(round(8192 * (1.0 - math.sin(math.pi * u) * 0.95)))
        notes.append((tick(5.0 + u), bytes([0xE0, value & 0x7F, value >> 7])))
    notes.append((tick(6.0), bytes([0xE0, 0x00, 0x40])))
    notes.append((tick(7.6), bytes([0x90, 60, 100])))
    notes.sort(key=lambda e: e[0])
    header = b'MThd' + struct.pack('>IHHH', 6, 1, 2, ppq)
    return header + track(tempo) + track(notes)


def automation():
    k = []

    def key(time, param, value, ramp='step'):
        k.append({'time': time, 'param': param, 'value': value, 'ramp': ramp})

    key(0.0, 'Buff Size', 1.0)
    key(0.0, 'Volume', 0.0)
    key(2.0, 'Buff Size', 0.999)
    key(3.0, 'Buff Size', 0.5)
    key(3.5, 'Buff Size', 0.25)
    key(4.0, 'Buff Size', 0.125)
    key(4.5, 'Buff Size', 0.5)
    key(6.0, 'Volume', 0.0)
    key(6.5, 'Volume', 0.75, 'linear')
    key(7.0, 'Volume', 0.0, 'linear')
    key(7.0, 'Buff Size', 1.0)
    key(7.5, 'Buff Size', 0.999)
    return {'comment': 'Vantorel demo: record, loop at several sizes, fade',
            'unit': 'seconds', 'keyframes': k}


def main():
    if len(sys.argv) != 2:
        sys.exit('usage: make_demo.py OUTDIR')
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    with wave.open(os.path.join(out, 'demo-drums.wav'), 'wb') as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(drums())
    with open(os.path.join(out, 'demo.mid'), 'wb') as f:
        f.write(midi_file())
    with open(os.path.join(out, 'demo-automation.json'), 'w') as f:
        json.dump(automation(), f, indent=2)
        f.write('\n')


if __name__ == '__main__':
    main()
