"""A frame change in headless Blender: the Tessarin Cache add-on beside Blender's own Mesh Cache
modifier playing a PC2 file of the same vertex count, in the same run, at 10,000, 100,000 and
1,000,000 vertices: the add-on setting the group itself, and through its Geometry Nodes modifier.
Each side has an object of its own, alone in the scene while it is timed. A frame change is frame_set plus the evaluated
depsgraph (so that what the add-on's handler set is evaluated too), in processor time of the whole
process (all of Blender's threads), so that other programs on a shared machine do not count.

  blender -b --factory-startup --python-use-system-env --python bench/blender_bench.py -- ADDON
  (PYTHONPATH naming the folder of a Release build of the tessarin module)
"""
import os
import struct
import sys
import tempfile
import time

import bpy
import numpy as np

ADDON = sys.argv[sys.argv.index("--") + 1]
SIZES = (10_000, 100_000, 1_000_000)
FRAMES = 16
folder = tempfile.mkdtemp()

bpy.ops.preferences.addon_install(filepath=ADDON)
bpy.ops.preferences.addon_enable(module="tessarin_cache")
import tessarin  # noqa: E402  (the add-on found it)

for obj in list(bpy.data.objects):
    bpy.data.objects.remove(obj)
scene = bpy.context.scene


def points(n):
    i = np.arange(n)
    co = np.zeros((n, 3), np.float32)
    co[:, 0], co[:, 1] = i % 1000, i // 1000
    return co


def mesh_object(name, n):
    mesh = bpy.data.meshes.new(name)
    mesh.vertices.add(n)
    mesh.vertices.foreach_set("co", points(n).ravel())
    obj = bpy.data.objects.new(name, mesh)
    scene.collection.objects.link(obj)
    return obj


def write_sel(path, n):
    i = np.arange(n)
    with tessarin.Writer(path, 1, overwrite=True) as w:
        for k in range(FRAMES):
            w.append(((i * 7 + k * 13) % 97).astype(np.float32) / np.float32(96.0))


def write_pc2(path, n):
    co = points(n)
    with open(path, "wb") as f:
        f.write(b"POINTCACHE2\0" + struct.pack("<iiffi", 1, n, 0.0, 1.0, FRAMES))
        for k in range(FRAMES):
            co[:, 2] = k * 0.01
            f.write(co.tobytes())


def frame_change(f):
    t0 = time.process_time()
    scene.frame_set(f)
    bpy.context.evaluated_depsgraph_get()
    return time.process_time() - t0


def timed(n, frames):
    reps = max(5, min(40, 2_000_000 // n))
    times = []
    for r in range(reps):
        frame_change(0)  # untimed: from a held frame to a new one every time
        times.append(frame_change(1 + r % (frames - 2)))
    return float(np.median(times)) * 1000


def run(n):
    sel, pc2 = os.path.join(folder, f"{n}.sel"), os.path.join(folder, f"{n}.pc2")
    write_sel(sel, n)
    write_pc2(pc2, n)
    result = {}
    for side in ("Mesh Cache", "add-on", "add-on through nodes"):
        obj = mesh_object(side, n)
        if side == "Mesh Cache":
            cache = obj.modifiers.new("MeshCache", 'MESH_CACHE')
            cache.cache_format, cache.filepath, cache.frame_start = 'PC2', pc2, 0
        else:
            settings = obj.tessarin_cache
            settings.filepath = sel
            settings.through_nodes = side != "add-on"
            settings.enabled = True
        result[side] = timed(n, FRAMES)
        mesh = obj.data
        bpy.data.objects.remove(obj)
        bpy.data.meshes.remove(mesh)
    return result


print("| vertices | Mesh Cache ms | add-on ms | ratio | add-on through nodes ms | ratio |")
print("|---:|---:|---:|---:|---:|---:|")
for n in SIZES:
    r = run(n)
    base = r["Mesh Cache"]
    print(f"| {n:,} | {base:.2f} | {r['add-on']:.2f} | {r['add-on'] / base:.1f} "
          f"| {r['add-on through nodes']:.2f} | {r['add-on through nodes'] / base:.1f} |")
