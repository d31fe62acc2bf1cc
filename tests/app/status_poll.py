# A test executive's use of the status registers: a run awaited by polling *ESR? for operation
# complete, the status byte after errors, and register values out of range.
import sys
import time

import pyvisa

bench = pyvisa.ResourceManager("@py").open_resource(
    f"TCPIP0::127.0.0.1::{sys.argv[1]}::SOCKET", read_termination="\n", timeout=20000)
bench.write("SYST:PROM OFF;:CONF:KIND RL;STEP 100;:INIT;*WAI;:SYST:PROM ON;:CONF:DEV TERM")
bench.write("*ESE 1;:INIT;*OPC")
# The run waits at its connection prompt: not complete yet.
for _ in range(1000):
    if bench.query("SYST:PROM?").startswith('"Connect'):
        break
print(bench.query("*ESR?"))
# OK to every message box of the run, until it is complete.
for _ in range(1000):
    complete = int(bench.query("*ESR?")) & 1
    if complete:
        break
    if bench.query("SYST:PROM?") != '""':
        bench.write("SYST:PROM:ANSW OK")
    time.sleep(0.01)
print(complete, bench.query("STAT:BUSY?;:FETC:VERD?;:SYST:ERR?"))
# A command error (event bit 5, enabled) and an execution error (bit 4).
bench.write("*ESE 36;*SRE 32;:CONF:KIND XYZ;:FOO")
print(bench.query("*STB?"))
print(bench.query("*ESR?;*STB?"))
bench.write("*ESE 256;*SRE -1;*SRE 1E3")
print(bench.query("*ESE?;*SRE?;:SYST:ERR?;ERR?;ERR?;ERR?;ERR?;ERR?"))
