"""Renders docs/images/blender.png: the demo's cache playing on its grid in Blender, through the
Tessarin Cache add-on installed from its zip (make blender-addon), with Cycles on the CPU. The
group's weights colour the grid (blue 0, yellow 1) and lift it through a Displace modifier.

  blender -b --factory-startup --python scripts/blender_picture.py -- \
      build-addon/tessarin_cache.zip out/demo/demo.sel docs/images/blender.png [FRAME [SAMPLES [PERCENT]]]

The grid is square, with as many vertices as the cache's samples (the demo's: 200 by 200). SAMPLES
(Cycles' samples, 64) and PERCENT (of 480 by 300 pixels, 100) make a quick draft; the add-on's test
runs it so.
"""
import contextlib
import io
import math
import sys

import bpy

ADDON, CACHE, OUT, *rest = sys.argv[sys.argv.index("--") + 1:]
FRAME = float(rest[0]) if rest else 50.25
SAMPLES = int(rest[1]) if len(rest) > 1 else 64
PERCENT = int(rest[2]) if len(rest) > 2 else 100

# Blender's installer says "addon_utils.disable: tessarin_cache not disabled" for an add-on that was
# not installed before: nothing failed, so it is not shown
with contextlib.redirect_stdout(io.StringIO()):
    bpy.ops.preferences.addon_install(filepath=ADDON, overwrite=True)
bpy.ops.preferences.addon_enable(module="tessarin_cache")
from tessarin_cache import module  # noqa: E402  (the module the add-on carries)

for obj in list(bpy.data.objects):
    bpy.data.objects.remove(obj)

with module.tessarin.open(CACHE) as cache:
    side = math.isqrt(int(cache.counts.max()))
cols = rows = side - 1
verts = [(-50 + 100 * c / cols, -50 + 100 * r / rows, 0.0) for r in range(rows + 1) for c in range(cols + 1)]
faces = [(r * (cols + 1) + c, r * (cols + 1) + c + 1, (r + 1) * (cols + 1) + c + 1, (r + 1) * (cols + 1) + c)
         for r in range(rows) for c in range(cols)]
mesh = bpy.data.meshes.new("Grid")
mesh.from_pydata(verts, [], faces)
grid = bpy.data.objects.new("Grid", mesh)
grid.scale = (0.1, 0.1, 0.1)
bpy.context.scene.collection.objects.link(grid)

# the settings belong to the mesh; the group set directly, so that its weights can be read below
settings = mesh.tessarin_cache
settings.group = "Selection"
settings.filepath = CACHE
settings.output = 'DIRECT'
settings.enabled = True
displace = grid.modifiers.new("Displace", 'DISPLACE')
displace.vertex_group, displace.strength, displace.mid_level = "Selection", 12.0, 0.0

# the group's weight as colour: Cycles does not see vertex groups, so a copy goes into a point attribute
material = bpy.data.materials.new("Weight")
material.use_nodes = True
nodes, links = material.node_tree.nodes, material.node_tree.links
attribute = nodes.new("ShaderNodeAttribute")
attribute.attribute_name = "weight"
ramp = nodes.new("ShaderNodeValToRGB")
ramp.color_ramp.elements[0].color = (0.02, 0.03, 0.35, 1)
ramp.color_ramp.elements[1].color = (1.0, 0.85, 0.05, 1)
links.new(attribute.outputs["Fac"], ramp.inputs["Fac"])
links.new(ramp.outputs["Color"], nodes["Principled BSDF"].inputs["Base Color"])
mesh.materials.append(material)
for polygon in mesh.polygons:
    polygon.use_smooth = True

camera = bpy.data.objects.new("Camera", bpy.data.cameras.new("Camera"))
camera.location = (0, -14, 12)
camera.rotation_euler = (math.radians(50), 0, 0)
bpy.context.scene.collection.objects.link(camera)
sun = bpy.data.objects.new("Sun", bpy.data.lights.new("Sun", 'SUN'))
sun.rotation_euler = (math.radians(35), math.radians(15), math.radians(20))
sun.data.energy = 3.0
bpy.context.scene.collection.objects.link(sun)

scene = bpy.context.scene
scene.camera = camera
scene.render.engine = 'CYCLES'
scene.cycles.device = 'CPU'
scene.cycles.samples = SAMPLES
scene.cycles.use_denoising = False
scene.render.resolution_x, scene.render.resolution_y = 480, 300
scene.render.resolution_percentage = PERCENT
scene.render.filepath = OUT
scene.render.image_settings.color_mode = 'RGB'
scene.render.image_settings.compression = 100
world = bpy.data.worlds.new("World")
world.color = (0.6, 0.6, 0.6)
scene.world = world
whole = math.floor(FRAME)
scene.frame_set(whole, subframe=FRAME - whole)
print("status:", settings.status)
if "samples" not in settings.status:
    sys.exit(1)
group = grid.vertex_groups["Selection"]
weight = mesh.attributes.new("weight", 'FLOAT', 'POINT')
weight.data.foreach_set("value", [group.weight(i) for i in range(len(mesh.vertices))])
bpy.ops.render.render(write_still=True)
