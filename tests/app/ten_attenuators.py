# A production script: one attenuation reference, then ten attenuators through the bench
# without a click, one verdict line each.
import sys

import pyvisa

bench = pyvisa.ResourceManager("@py").open_resource(
    f"TCPIP0::127.0.0.1::{sys.argv[1]}::SOCKET", read_termination="\n", timeout=60000)
bench.write("*CLS;:SYST:PROM OFF;:CONF:KIND ATT;STEP 100;DEV REF;:INIT")
bench.query("*OPC?")
devices = ["X1", "X2", "X2P5", "X5", "X10", "X2", "X2P5", "X5", "X10", "CUST"]
for n, device in enumerate(devices, start=1):
    if device == "CUST":
        bench.write("CONF:DEV CUST;DEV:CUST 3")
    else:
        bench.write(f"CONF:DEV {device}")
    bench.write(f'CONF:DUT "ATT-{n:02}";:INIT')
    bench.query("*OPC?")
    print(f"ATT-{n:02}", bench.query("FETC:VERD?"))
print(bench.query("SYST:ERR?"))
