"""Orvik from Python: a point moved along a vector, by name. Register the module
first (python3 -m orvik register liborvik.so)."""
import orvik

start, step = orvik.Dispatch("Orvik.Point"), orvik.Dispatch("Orvik.Vector")
start.Set(1, 2, 3)
step.Set(X=3, Y=4)
end = start.Add(step)
print("from", start.AsArray, "by", step.AsArray, "to", end.AsArray)
print("distance", end.Diff(start).Length)
