"""kestrum demo: what the module offers so far."""

import kestrum

print("kestrum exports:", ", ".join(kestrum.__all__))
cooling = kestrum.Cooling.geometric_cooling(0.95)
print("geometric cooling schedule:", cooling)
