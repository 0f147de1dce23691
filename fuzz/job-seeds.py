#!/usr/bin/env python3
"""Writes the seed inputs of job_fuzz into fuzz/corpus/job_fuzz/: the cases of
the end-to-end table and the fault scenarios, in the input format that
fuzz/job_fuzz.cpp describes. Run it again after changing that format; inputs
that the fuzzer found (crash inputs made seeds) are kept as they are."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "job_fuzz")

DSP, CM, MOTOR = 1, 2, 4
RATE = {9600: 0, 19200: 1, 38400: 2, 57600: 3, 115200: 4, 14400: 7}
FAULT = {"drop": 0, "delay": 1, "cut": 2, "double": 3, "garble": 4, "noise": 5, "hang-up": 6}
START = {None: 0, "camera-board": 1, "control-board": 2}


def scenario(targets, rate=9600, camera=None, start=None, cm=40, motor=30, dsp=0, cm_resets=0,
             motor_resets=0, faults=()):
    """faults: (reply index, fault name, parameter), in reply order."""
    data = bytearray([targets, RATE[rate] | (RATE[camera or rate] << 4), START[start], cm, motor, dsp,
                      (cm_resets & 7) | ((motor_resets & 7) << 4)])
    last = 0
    for index, name, param in faults:
        step = index - last
        data += bytes([step >> 8, step & 0xFF, FAULT[name], param])
        last = index + 1
    return bytes(data)


SEEDS = {
    # The end-to-end table: each target alone and all three, at two rates.
    "dsp-9600": scenario(DSP),
    "cm-9600": scenario(CM),
    "motor-9600": scenario(MOTOR),
    "all-three-9600": scenario(DSP | CM | MOTOR),
    "all-three-19200": scenario(DSP | CM | MOTOR, rate=19200),
    "boards-14400": scenario(CM | MOTOR, rate=14400),
    "camera-at-another-rate": scenario(DSP, rate=9600, camera=19200),
    "not-a-dsp-image": scenario(DSP | CM, dsp=6),
    "short-dsp-image": scenario(DSP, dsp=7),
    "nothing-selected": scenario(0),
    # A loader an unfinished job left listening.
    "camera-board-listening-cm": scenario(CM | MOTOR, start="camera-board"),
    "camera-board-listening-dsp-refused": scenario(DSP | CM, start="camera-board"),
    "control-board-listening-motor": scenario(MOTOR, start="control-board"),
    "control-board-listening-cm-refused": scenario(CM | MOTOR, start="control-board"),
    # RESETs that are not taken: the wrong-board fault and a board that never restarts.
    "wrong-board-camera-reset-not-taken": scenario(CM | MOTOR, cm=16, motor=16, cm_resets=1),
    "camera-board-never-restarts": scenario(CM | MOTOR, cm=16, motor=16, cm_resets=6),
    "control-board-never-restarts": scenario(MOTOR, motor_resets=7),
    # A DSP block's reply that comes after the block's wait, during the next
    # announce's: the stale-reply fault.
    "stale-block-reply-taken-for-completion": scenario(DSP, faults=[(10, "delay", 170)]),
    # Faults on replies, in each phase of a job of all three.
    "dsp-block-reply-dropped": scenario(DSP, faults=[(12, "drop", 0)]),
    "dsp-block-reply-late": scenario(DSP, faults=[(10, "delay", 150)]),
    "dsp-reply-cut": scenario(DSP, faults=[(20, "cut", 3)]),
    "dsp-reply-doubled": scenario(DSP, faults=[(30, "double", 0)]),
    "dsp-reply-garbled": scenario(DSP, faults=[(40, "garble", 1)]),
    "dsp-noise-after-reply": scenario(DSP, faults=[(50, "noise", 40)]),
    "dsp-hang-up": scenario(DSP | CM, faults=[(60, "hang-up", 0)]),
    "loader-ack-dropped": scenario(CM, faults=[(4, "drop", 0), (9, "drop", 0)]),
    "loader-status-garbled": scenario(CM, faults=[(6, "garble", 3)]),
    "loader-reply-late": scenario(MOTOR, faults=[(7, "delay", 60)]),
    "loader-reply-doubled": scenario(CM | MOTOR, faults=[(5, "double", 0), (11, "double", 0)]),
    "loader-noise": scenario(CM, faults=[(8, "noise", 200)]),
    "loader-hang-up": scenario(CM | MOTOR, faults=[(10, "hang-up", 0)]),
    "many-faults": scenario(DSP | CM | MOTOR, rate=19200,
                            faults=[(3, "cut", 1), (100, "drop", 0), (400, "garble", 2), (790, "delay", 40),
                                    (800, "double", 0), (805, "noise", 9)]),
}

os.makedirs(OUT, exist_ok=True)
for name, data in SEEDS.items():
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)
print(f"{len(SEEDS)} seeds in {OUT}")
