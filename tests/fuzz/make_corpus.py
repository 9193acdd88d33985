#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (tests/fuzz/corpus/TARGET/). The record targets
(dispatcher, window) read scripts, one small one per area of the interface, in the byte format
of fuzz_session.h; the dispatcher gets those without the window. The value-text target reads
records of a kind byte, four bytes of a float (or index) and a bound byte (fuzz_valuetext.cpp).
The state data target's seeds (corpus/state) are blobs of the state data format, kept as they are.

Format: two header bytes (MIDI device count modulo 5; 0xff makes the host refuse its version),
then actions, each led by one byte whose value modulo 8 picks it:
  0, 1  dispatcher: opcode byte (0xff: 4 raw bytes follow), index, value, opt, shape byte,
        then for input texts, effSetChunk and unknown opcodes a length byte and that many bytes
  2     setParameter: index, number          3     getParameter: index
  4, 5  processReplacing / processDoubleReplacing: frames (signed byte), shape, number
  6     process (accumulating): as 4
  7     window: 0 open, 1 idle, 2 close, 3 open+idle+close, 4 key (index, value, up, number),
        5 knob mode (value), 6 offscreen picture, 7 mouse gesture (x, y: 2 raw bytes each,
        minus 10 after modulo 600 / 420; buttons; moves; popup answer; each move dx, dy;
        end: 0 release, 1 mouse lost, 2 wheel + number)
Small numbers are one signed byte; 0x7f escapes to a raw little-endian int32 (index) or
intptr (value). A number is a kind byte: 0 zero, 1 NaN, 2 +inf, 3 -inf, 4 raw float32,
5 largest float, 6 smallest denormal, 7 one, otherwise (kind - 136) / 64.

Usage: make_corpus.py [OUTPUT_DIR]   (default: the corpus directory beside this script)
"""

import os
import struct
import sys

OP = dict(open=0, close=1, setProgram=2, getProgram=3, setProgramName=4, getProgramName=5,
          getParamLabel=6, getParamDisplay=7, getParamName=8, setSampleRate=10,
          setBlockSize=11, mainsChanged=12, editGetRect=13, editOpen=14, editClose=15,
          editIdle=19, identify=22, getChunk=23, setChunk=24, processEvents=25,
          canBeAutomated=26, string2Parameter=27, getProgramNameIndexed=29,
          getInputProperties=33, getPlugCategory=35, setSpeakerArrangement=42, setBypass=44,
          getEffectName=45, getVendorString=47, getProductString=48, getVendorVersion=49,
          vendorSpecific=50, canDo=51, getTailSize=52, getParameterProperties=56,
          getVstVersion=58, editKeyDown=59, setEditKnobMode=61, getMidiProgramName=62,
          getCurrentMidiProgram=63, getSpeakerArrangement=69, shellGetNextPlugin=70,
          setTotalSampleToProcess=73, setProcessPrecision=77)
INPUT_TEXTS = {OP['setProgramName'], OP['canDo'], OP['string2Parameter']}


def small(n, raw_format):
    if -128 <= n <= 126 and n != 0x7f:
        return struct.pack('<b', n)
    return b'\x7f' + struct.pack(raw_format, n)


def index(n):
    return small(n, '<i')


def value(n):
    return small(n, '<q')


def number(x):
    if x == 'nan':
        return b'\x01'
    if x == 'inf':
        return b'\x02'
    if x == '-inf':
        return b'\x03'
    if x == 'max':
        return b'\x05'
    if x == 'denorm':
        return b'\x06'
    if x == 0:
        return b'\x00'
    if x == 1:
        return b'\x07'
    k = x * 64 + 136
    if k == int(k) and 8 <= k <= 255:
        return bytes([int(k)])
    return b'\x04' + struct.pack('<f', x)


def dispatch(opcode, idx=0, val=0, opt=0, shape=1, data=None):
    out = bytes([0])
    out += bytes([opcode]) if 0 <= opcode < 0xff and opcode % 82 == opcode else (
        b'\xff' + struct.pack('<i', opcode))
    out += index(idx) + value(val) + number(opt) + bytes([shape])
    unknown = not 0 <= opcode <= 79
    if opcode in INPUT_TEXTS or opcode == OP['setChunk'] or unknown:
        data = data or b''
        out += bytes([len(data)]) + data
    return out


def set_param(idx, x):
    return bytes([2]) + index(idx) + number(x)


def get_param(idx):
    return bytes([3]) + index(idx)


def audio(kind, frames, shape=0, seed=0.25):
    return bytes([{'float': 4, 'double': 5, 'accumulating': 6}[kind]]) + struct.pack(
        '<b', frames) + bytes([shape]) + number(seed)


def window(what, *args):
    codes = dict(open=0, idle=1, close=2, cycle=3, key=4, knobMode=5, picture=6)
    out = bytes([7, codes[what]])
    if what == 'key':
        char, virt, up, opt = args
        out += index(char) + value(virt) + bytes([up]) + number(opt)
    elif what == 'knobMode':
        out += value(args[0])
    return out


LBUTTON, SHIFT, CONTROL = 1, 8, 16


def mouse(x, y, buttons=LBUTTON, moves=(), end='up', popup=0, wheel=0):
    out = bytes([7, 7]) + struct.pack('<HHBBb', x + 10, y + 10, buttons, len(moves), popup)
    for dx, dy in moves:
        out += struct.pack('<bb', dx, dy)
    out += bytes([dict(up=0, lost=1, wheel=2)[end]])
    if end == 'wheel':
        out += number(wheel)
    return out


def script(devices, *actions, refuse=False):
    return bytes([devices, 0xff if refuse else 0]) + b''.join(actions)


SEEDS = {
    'empty': b'',
    'host-refuses-version': script(2, refuse=True),
    'identity': script(
        0, dispatch(OP['getEffectName']), dispatch(OP['getVendorString']),
        dispatch(OP['getProductString']), dispatch(OP['getVendorVersion']),
        dispatch(OP['getPlugCategory']), dispatch(OP['getVstVersion']),
        dispatch(OP['identify']), dispatch(OP['getTailSize']),
        dispatch(OP['shellGetNextPlugin']), dispatch(OP['getEffectName'], shape=0),
        dispatch(OP['canDo'], shape=2, data=b'receiveVstMidiEvent'),
        dispatch(OP['canDo'], shape=0), dispatch(OP['canDo'], shape=2, data=b'\xff' * 200)),
    'program-names': script(
        0, dispatch(OP['getProgramName']),
        dispatch(OP['setProgramName'], shape=2, data=b'a program name longer than 24 chars'),
        dispatch(OP['getProgramName']),
        dispatch(OP['setProgramName'], shape=1, data=b'unterminated'),
        dispatch(OP['getProgramName']), dispatch(OP['setProgramName'], shape=0),
        dispatch(OP['setProgramName'], shape=2, data=b''),
        dispatch(OP['setProgramName'], shape=2, data=bytes(range(1, 255))),
        dispatch(OP['getProgramNameIndexed'], 0, 0), dispatch(OP['getProgramNameIndexed'], -1, 7),
        dispatch(OP['setProgram'], 0, 1), dispatch(OP['setProgram'], 0, -1),
        dispatch(OP['getProgram'])),
    'parameter-texts': script(
        0, *[dispatch(op, i) for op in (OP['getParamName'], OP['getParamDisplay'],
                                         OP['getParamLabel'])
             for i in (0, 1, 2, 49, 50, 73, 74, -1, 2**31 - 1, -2**31)],
        dispatch(OP['getParamName'], 5, shape=0),
        dispatch(OP['canBeAutomated'], 3), dispatch(OP['canBeAutomated'], -5),
        dispatch(OP['string2Parameter'], 2, shape=2, data=b'0.5'),
        dispatch(OP['string2Parameter'], 2, shape=0)),
    'parameter-values': script(
        4, set_param(0, 1), set_param(2, 0.5), set_param(3, 'nan'), set_param(4, 'inf'),
        set_param(5, '-inf'), set_param(6, 'max'), set_param(7, 'denorm'), set_param(8, -2),
        set_param(9, 1e30), set_param(49, 1), set_param(50, 1), set_param(73, 0.5),
        set_param(1, 1), set_param(1, 0.5), set_param(74, 1), set_param(-1, 1),
        set_param(2**31 - 1, 1), get_param(2), get_param(3), get_param(-7), get_param(74),
        dispatch(OP['getParamDisplay'], 3), dispatch(OP['getParamDisplay'], 4),
        dispatch(OP['getParamDisplay'], 6), dispatch(OP['getParamDisplay'], 9),
        set_param(0, 'nan'), set_param(0, 3.5), set_param(0, 9), set_param(0, -1),
        set_param(0, 'inf'), set_param(0, 2), set_param(1, 1)),
    'device-open-at-close': script(3, set_param(0, 2), set_param(2, 1), set_param(1, 1)),
    'audio': script(
        0, audio('float', 0), audio('float', 1), audio('float', 7, seed='nan'),
        audio('float', 64, seed='inf'), audio('float', -1), audio('float', 16, shape=1),
        audio('float', 16, shape=2), audio('float', 16, shape=3), audio('float', 16, shape=4),
        audio('float', 16, shape=5), audio('double', 7), audio('double', 64, seed='-inf'),
        audio('double', 5, shape=3), audio('double', 3, shape=4),
        audio('accumulating', 8), audio('accumulating', 8, shape=1)),
    'switching': script(
        1, dispatch(OP['open']), dispatch(OP['setSampleRate'], opt=48000.0),
        dispatch(OP['setSampleRate'], opt='nan'), dispatch(OP['setSampleRate'], opt='-inf'),
        dispatch(OP['setBlockSize'], val=512), dispatch(OP['setBlockSize'], val=-2**40),
        dispatch(OP['mainsChanged'], val=1), dispatch(OP['setProcessPrecision'], val=1),
        dispatch(OP['setTotalSampleToProcess'], val=4410),
        dispatch(OP['setTotalSampleToProcess'], val=2**40), dispatch(OP['setBypass'], val=1),
        audio('float', 32), dispatch(OP['mainsChanged'], val=0)),
    'window': script(
        2, dispatch(OP['editGetRect']), dispatch(OP['editGetRect'], shape=0),
        window('open'), dispatch(OP['editGetRect']), window('idle'), set_param(2, 0.75),
        set_param(51, 1), set_param(0, 1), window('idle'),
        window('key', 65, 3, 0, 0), window('key', -1, 2**40, 1, 'nan'),
        window('knobMode', 0), window('knobMode', 2), window('knobMode', -2**40),
        dispatch(OP['editOpen']), window('close'), window('close'), window('idle'),
        window('cycle')),
    # Knob 1 (40, 77) dragged and wheeled, link 1+2 (78, 135) switched on and the partner
    # knob dragged, page two (100, 12), device menu (300, 12) answered 1 and -1, refresh
    # (180, 12), information (550, 12), shrink (470, 12); pictures between.
    'window-mouse': script(
        2, set_param(0, 0), window('open'), mouse(40, 77, moves=[(0, -20), (0, -40)]),
        mouse(78, 135), mouse(110, 77, moves=[(0, 30)] * 3), window('picture'),
        mouse(40, 77, end='wheel', wheel=1), mouse(40, 77, CONTROL | LBUTTON),
        mouse(40, 77, moves=[(5, -100)], end='lost'), mouse(100, 12), window('picture'),
        mouse(300, 12, popup=1), mouse(300, 12, popup=-1), mouse(180, 12), mouse(550, 12),
        window('picture'), mouse(550, 12), mouse(470, 12), window('picture'), mouse(470, 12),
        set_param(2, 'nan'), set_param(3, 'inf'), window('idle'), window('picture')),
    'window-open-at-close': script(1, window('open'), set_param(10, 0.5), window('idle')),
    'structures': script(
        0, dispatch(OP['getChunk'], 0), dispatch(OP['getChunk'], 1, shape=0),
        dispatch(OP['setChunk'], 0, data=b'\x00\x01chunk'), dispatch(OP['setChunk'], 1, shape=0),
        dispatch(OP['getSpeakerArrangement'], shape=3),
        dispatch(OP['getSpeakerArrangement'], shape=0),
        dispatch(OP['setSpeakerArrangement'], shape=3),
        dispatch(OP['processEvents']), dispatch(OP['processEvents'], shape=0),
        dispatch(OP['getInputProperties'], 1), dispatch(OP['getParameterProperties'], 3),
        dispatch(OP['getMidiProgramName'], 0), dispatch(OP['getCurrentMidiProgram'], 0),
        dispatch(OP['vendorSpecific'], 1, 2**40, opt=0.5)),
    'unknown-opcodes': script(
        0, dispatch(80, 1, 2), dispatch(81, data=b'\x00' * 40),
        dispatch(-1, -1, -1, 'nan', data=b'x'), dispatch(2**31 - 1, 2**31 - 1, 2**63 - 1, 'inf'),
        dispatch(-2**31, -2**31, -2**63, '-inf', shape=0), dispatch(1000, data=b'abc' * 20)),
    'close-request-mid-script': script(0, dispatch(OP['close']), get_param(2)),
}


def value_text(kind, x, bound):
    raw = struct.pack('<i', x) if kind == 'name' else struct.pack('<f', float(x))
    return bytes([dict(float=0, decibels=1, gain=2, name=3)[kind]]) + raw + bytes([bound])


VALUE_SEEDS = {
    'floats': b''.join(value_text('float', x, b) for x in (
        0.0, -0.0, 0.5, -1.5, 1.0, 9999999.0, 10000000.0, -999999.0, -1000000.0, 1e-30,
        float('nan'), float('inf'), float('-inf'), 3.4e38) for b in (0, 1, 8, 24)),
    'decibels': b''.join(value_text('decibels', x, b) for x in (
        0.0, -1.0, 1.0, 0.5, 1e-38, 1e-45, float('nan'), float('inf'), 3.4e38)
        for b in (0, 3, 8)),
    'gains': b''.join(value_text('gain', x, 8) for x in (
        0.0, 0.5, 1.0, 1.0000001, -0.5, 2.0, 1e30, -1e30, float('nan'), float('inf'),
        float('-inf'), 1e-45)),
    'names': b''.join(value_text('name', i, 8) for i in (
        0, 1, 2, 49, 50, 73, 74, -1, 2**31 - 1, -2**31)),
}


def write(out_dir, seeds):
    os.makedirs(out_dir, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(out_dir, f'seed-{name}'), 'wb') as f:
            f.write(data)
    print(f'{len(seeds)} seeds in {out_dir}')


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, 'corpus')
    write(os.path.join(out_dir, 'window'), SEEDS)
    write(os.path.join(out_dir, 'dispatcher'),
          {name: data for name, data in SEEDS.items() if not name.startswith('window')})
    write(os.path.join(out_dir, 'valuetext'), VALUE_SEEDS)


if __name__ == '__main__':
    main()
