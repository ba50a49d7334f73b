#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes OUT.wav: the samples of IN.wav (a plain 44-byte header) TIMES times over, for the
memory figures of an hour of sound.

usage: repeat_wave.py IN.wav OUT.wav TIMES
"""
import sys

data = open(sys.argv[1], "rb").read()
size = int.from_bytes(data[40:44], "little")
body = data[44:44 + size] * int(sys.argv[3])
with open(sys.argv[2], "wb") as f:
    f.write(b"RIFF" + (36 + len(body)).to_bytes(4, "little") + data[8:40] +
            len(body).to_bytes(4, "little"))
    f.write(body)
