# A session as a user would script it with pyvisa and pyvisa-py: configure, run with the
# prompt answered, run unattended, fetch. Prints the answers; the round trip goes to stderr.
import statistics
import sys
import time

import pyvisa

rm = pyvisa.ResourceManager("@py")
bench = rm.open_resource(f"TCPIP0::127.0.0.1::{sys.argv[1]}::SOCKET",
                         read_termination="\n", timeout=20000)
print(bench.query("*IDN?"))
bench.write("CONF:KIND RL;STEP 100")
bench.write("INIT")
for _ in range(1000):
    prompt = bench.query("SYST:PROM?")
    if prompt != '""':
        break
print(prompt)
bench.write("SYST:PROM:ANSW OK")
print(bench.query("*OPC?"))
bench.write("SYST:PROM OFF;:CONF:DEV TERM;:INIT")
print(bench.query("*OPC?;:FETC:VERD?;MARG?"))
print(bench.query_ascii_values("FETC:DATA?"))
print(bench.query("SYST:ERR?"))

times = []
for _ in range(500):
    start = time.perf_counter()
    bench.query("*IDN?")
    times.append(time.perf_counter() - start)
print(f"query round trip: median {statistics.median(times) * 1000:.3f} ms over {len(times)}",
      file=sys.stderr)
bench.close()
