"""Orvik from Python: the README's example as a whole script. Register the module
first (python3 -m orvik register liborvik.so)."""
import orvik
p = orvik.Dispatch("Orvik.Point")        # or "{283075AE-...}", or a pointer
p.Set(1, 2, Z=3)                          # keywords by parameter name
x, y, z, e = p.Get()                      # [out] parameters as a tuple
m = orvik.Dispatch("Orvik.Matrix")
m.SetElement(1, 2, 4.0); m.Element(1, 2)  # indexed properties

print("point", (x, y, z), "error", e)
print("matrix element (1, 2):", m.Element(1, 2))
