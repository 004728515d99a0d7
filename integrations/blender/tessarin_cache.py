"""Tessarin Cache: plays a selection cache (.sel) onto a mesh's vertex group, frame by frame.

The weights come from the `tessarin` Python module, which plays the file with the Tessarin
plug-in's own code: what a vertex gets here is what the modifier gives it, clamped to 0..1 as
Blender clamps every group weight.
"""

bl_info = {
    "name": "Tessarin Cache",
    "author": "Tessarin",
    "version": (1, 0, 0),
    "blender": (3, 4, 0),
    "location": "Properties > Object Data > Tessarin Cache",
    "description": "Plays a Tessarin selection cache (.sel) onto a vertex group",
    "category": "Animation",
}

import site
import sys

import bpy
import numpy as np
from bpy.app.handlers import persistent

try:
    import tessarin
except ImportError:
    # Blender does not read the user's site-packages, where `make python` leaves its .pth file
    site.addsitedir(site.getusersitepackages())
    try:
        import tessarin
    except ImportError:
        tessarin = None

INCOMING = "tessarin_incoming"  # the group's weights before the cache, kept in the mesh
PLAYED = "tessarin_played"  # the played weights, for the Geometry Nodes modifier to store in the group
NODES = "Tessarin Cache"  # the name of that modifier and of its node group
SELECTION_TYPES = [
    ("REPLACE", "Replace", "The cache's weight replaces the group's", 0),
    ("ADD", "Add", "The cache's weight is added to the group's", 1),
    ("SUBTRACT", "Subtract", "The cache's weight is subtracted from the group's", 2),
]
CLAMP_NOTE = "Blender keeps group weights between 0 and 1, so results of Add and Subtract are clamped"

# Open caches by object, kept open between frames as the modifier keeps its file open.
_open = {}


def _forget(obj):
    entry = _open.pop(obj.as_pointer(), None)
    if entry:
        entry[1].close()


def _cache(obj, path):
    """The open cache of `obj` for `path`, opened now when it is not yet; raises tessarin.CacheError."""
    key = obj.as_pointer()
    entry = _open.get(key)
    if entry and entry[0] == path:
        return entry[1]
    _forget(obj)
    cache = tessarin.open(path)
    _open[key] = (path, cache)
    return cache


def _group(obj, settings):
    name = settings.group or "Tessarin"
    group = obj.vertex_groups.get(name)
    if group is None:
        group = obj.vertex_groups.new(name=name)
    return group


def _read_group(obj, group):
    """The group's weights, 0.0 for vertices outside it."""
    out = np.zeros(len(obj.data.vertices), dtype=np.float32)
    index = group.index
    for v in obj.data.vertices:
        for g in v.groups:
            if g.group == index:
                out[v.index] = g.weight
    return out


def _write_group(obj, group, weights):
    n = len(weights)
    group.add(range(n), 0.0, 'REPLACE')  # every vertex a member, so that each can be read back
    # vertices sharing a weight go in one call; the rest one at a time
    values, inverse = np.unique(weights, return_inverse=True)
    if len(values) < n // 4:
        for k, value in enumerate(values):
            group.add(np.flatnonzero(inverse == k).tolist(), float(value), 'REPLACE')
    else:
        add = group.add
        for i, value in enumerate(weights.tolist()):
            add((i,), value, 'REPLACE')


def _node_group():
    """A node group that stores the float point attribute PLAYED into the attribute (the vertex group)
    named by its string input."""
    tree = bpy.data.node_groups.get(NODES)
    if tree is not None:
        return tree
    tree = bpy.data.node_groups.new(NODES, 'GeometryNodeTree')
    tree.inputs.new('NodeSocketGeometry', "Geometry")
    tree.inputs.new('NodeSocketString', "Group")
    tree.outputs.new('NodeSocketGeometry', "Geometry")
    inputs, outputs = tree.nodes.new('NodeGroupInput'), tree.nodes.new('NodeGroupOutput')
    store = tree.nodes.new('GeometryNodeStoreNamedAttribute')
    store.data_type, store.domain = 'FLOAT', 'POINT'
    played = tree.nodes.new('GeometryNodeInputNamedAttribute')
    played.data_type = 'FLOAT'
    played.inputs["Name"].default_value = PLAYED
    tree.links.new(inputs.outputs["Geometry"], store.inputs["Geometry"])
    tree.links.new(inputs.outputs["Group"], store.inputs["Name"])
    value = [i for i in store.inputs if i.name == "Value" and i.enabled][0]
    tree.links.new([o for o in played.outputs if o.enabled][0], value)
    tree.links.new(store.outputs["Geometry"], outputs.inputs["Geometry"])
    return tree


def _nodes_modifier(obj, group_name):
    """The Geometry Nodes modifier at the bottom of the stack that stores the played weights."""
    mod = obj.modifiers.get(NODES)
    if mod is None or mod.type != 'NODES':
        mod = obj.modifiers.new(NODES, 'NODES')
        mod.node_group = _node_group()
        with bpy.context.temp_override(object=obj):
            bpy.ops.object.modifier_move_to_index(modifier=mod.name, index=0)
    key = mod.node_group.inputs["Group"].identifier
    if mod[key] != group_name:
        mod[key] = group_name
    return mod


def _remove_nodes_modifier(obj):
    mod = obj.modifiers.get(NODES)
    if mod is not None and mod.type == 'NODES':
        obj.modifiers.remove(mod)


def _write_played(obj, weights):
    mesh = obj.data
    attribute = mesh.attributes.get(PLAYED)
    if attribute is None or attribute.domain != 'POINT' or attribute.data_type != 'FLOAT':
        if attribute is not None:
            mesh.attributes.remove(attribute)
        attribute = mesh.attributes.new(PLAYED, 'FLOAT', 'POINT')
    attribute.data.foreach_set("value", weights)


def _incoming(obj):
    attribute = obj.data.attributes.get(INCOMING)
    n = len(obj.data.vertices)
    if attribute is None or attribute.domain != 'POINT' or attribute.data_type != 'FLOAT':
        return np.zeros(n, dtype=np.float32)
    out = np.empty(n, dtype=np.float32)
    attribute.data.foreach_get("value", out)
    return out


def _keep_incoming(obj, weights):
    mesh = obj.data
    attribute = mesh.attributes.get(INCOMING)
    if attribute is not None:
        mesh.attributes.remove(attribute)
    attribute = mesh.attributes.new(INCOMING, 'FLOAT', 'POINT')
    attribute.data.foreach_set("value", weights)


def _describe(cache, settings, vertices):
    counts = cache.counts
    fixed = cache.fixed_count
    expected = fixed if fixed is not None else (int(counts[0]) if (counts == counts[0]).all() else None)
    if expected is not None and expected != vertices:
        return f"vertex count {vertices}, cache has {expected}"
    if expected is None and vertices not in set(counts.tolist()):
        return f"vertex count {vertices}, cache has {int(counts.min())} to {int(counts.max())}"
    spf = cache.samples_per_frame
    last = settings.start + (cache.sample_count - 1) / spf
    return f"{cache.sample_count} samples, frames {settings.start:g} to {last:g}"


def play(obj, frame):
    """Sets the group of `obj` from its cache at `frame`; any failure goes to the status line."""
    settings = obj.tessarin_cache
    if not settings.enabled:
        return
    try:
        if tessarin is None:
            settings.status = "the tessarin Python module is not installed (make python)"
            return
        if not settings.filepath:
            settings.status = "no cache file"
            return
        cache = _cache(obj, bpy.path.abspath(settings.filepath))
        vertices = len(obj.data.vertices)
        incoming = _incoming(obj)
        if len(incoming) != vertices:
            incoming = np.zeros(vertices, dtype=np.float32)
        weights, selected = cache.evaluate(
            frame, incoming, None, start=settings.start, relative_offset=settings.relative_offset,
            strength=settings.strength, selection_type=int(SELECTION_INDEX[settings.selection_type]))
        weights[selected] = 1.0
        group = _group(obj, settings)
        if settings.through_nodes:
            # one array call; Blender's own evaluation puts the weights into the group
            _nodes_modifier(obj, group.name)
            _write_played(obj, np.clip(weights, 0.0, 1.0))
        else:
            _write_group(obj, group, weights)
        obj.data.update()
        settings.status = _describe(cache, settings, vertices)
    except Exception as e:  # a file gone or damaged while playing: say so, keep Blender going
        _forget(obj)
        text = str(e) if tessarin is not None and isinstance(e, tessarin.CacheError) else f"{type(e).__name__}: {e}"
        if settings.status != text:
            settings.status = text


SELECTION_INDEX = {identifier: index for identifier, _, _, index in SELECTION_TYPES}


def _frame(scene):
    return scene.frame_current + scene.frame_subframe


def _settings_changed(self, context):
    obj = self.id_data
    _forget(obj)
    play(obj, _frame(context.scene))


def _switched(self, context):
    obj = self.id_data
    try:
        group = _group(obj, self)
        if self.enabled:
            # the group's own weights become the incoming weights the cache combines with
            _keep_incoming(obj, _read_group(obj, group))
            play(obj, _frame(context.scene))
        else:
            _forget(obj)
            _remove_nodes_modifier(obj)
            if not self.through_nodes:
                _write_group(obj, group, _incoming(obj))
            obj.data.update()
            self.status = "off"
    except Exception as e:
        self.status = f"{type(e).__name__}: {e}"


def _way_changed(self, context):
    obj = self.id_data
    if not self.enabled:
        return
    try:
        if self.through_nodes:
            # the group of the mesh itself gets its own weights back; the nodes play on top of them
            _write_group(obj, _group(obj, self), _incoming(obj))
        else:
            _remove_nodes_modifier(obj)
        play(obj, _frame(context.scene))
    except Exception as e:
        self.status = f"{type(e).__name__}: {e}"


class TessarinCacheSettings(bpy.types.PropertyGroup):
    enabled: bpy.props.BoolProperty(
        name="Play", description="Play the cache onto the vertex group. " + CLAMP_NOTE, default=False,
        update=_switched)
    filepath: bpy.props.StringProperty(
        name="Cache File", description="The selection cache (.sel) to play", subtype='FILE_PATH',
        update=_settings_changed)
    group: bpy.props.StringProperty(
        name="Vertex Group", description="The vertex group the cache drives (created if missing). " + CLAMP_NOTE,
        default="Tessarin", update=_settings_changed)
    start: bpy.props.FloatProperty(
        name="Start Frame", description="The frame at which the cache's first sample plays", default=0.0,
        update=_settings_changed)
    relative_offset: bpy.props.BoolProperty(
        name="Relative Offset", description="Apply the change since the cache's first sample, times Strength",
        default=False, update=_settings_changed)
    strength: bpy.props.FloatProperty(
        name="Strength", description="Scale of the relative offset", default=1.0, min=-10.0, max=10.0,
        update=_settings_changed)
    selection_type: bpy.props.EnumProperty(
        name="Selection Type", description="How the cache's weight combines with the group's. " + CLAMP_NOTE,
        items=SELECTION_TYPES, default="REPLACE", update=_settings_changed)
    through_nodes: bpy.props.BoolProperty(
        name="Through Geometry Nodes",
        description="Fast: the weights reach the group in Blender's evaluation, through a Geometry Nodes "
                    "modifier at the bottom of the stack, for the modifiers above it; the group of the mesh "
                    "itself (weight painting, scripts) keeps its own weights",
        default=False, update=_way_changed)
    status: bpy.props.StringProperty(name="Status", default="off")


class DATA_PT_tessarin_cache(bpy.types.Panel):
    bl_label = "Tessarin Cache"
    bl_space_type = 'PROPERTIES'
    bl_region_type = 'WINDOW'
    bl_context = "data"

    @classmethod
    def poll(cls, context):
        return context.object is not None and context.object.type == 'MESH'

    def draw_header(self, context):
        self.layout.prop(context.object.tessarin_cache, "enabled", text="")

    def draw(self, context):
        settings = context.object.tessarin_cache
        layout = self.layout
        layout.use_property_split = True
        layout.prop(settings, "filepath")
        layout.prop_search(settings, "group", context.object, "vertex_groups")
        layout.prop(settings, "start")
        layout.prop(settings, "relative_offset")
        row = layout.row()
        row.active = settings.relative_offset
        row.prop(settings, "strength")
        layout.prop(settings, "selection_type")
        layout.prop(settings, "through_nodes")
        layout.label(text=settings.status, icon='INFO')


@persistent
def _on_frame(scene, depsgraph=None):
    frame = _frame(scene)
    for obj in scene.objects:
        if obj.type == 'MESH' and obj.tessarin_cache.enabled:
            play(obj, frame)


@persistent
def _on_load(_):
    # a reopened file: the objects are new, so are their caches
    for _, cache in _open.values():
        cache.close()
    _open.clear()
    scene = bpy.context.scene
    if scene is not None:
        _on_frame(scene)


CLASSES = (TessarinCacheSettings, DATA_PT_tessarin_cache)


def register():
    for cls in CLASSES:
        bpy.utils.register_class(cls)
    bpy.types.Object.tessarin_cache = bpy.props.PointerProperty(type=TessarinCacheSettings)
    bpy.app.handlers.frame_change_post.append(_on_frame)
    bpy.app.handlers.load_post.append(_on_load)


def unregister():
    for handlers, fn in ((bpy.app.handlers.frame_change_post, _on_frame), (bpy.app.handlers.load_post, _on_load)):
        if fn in handlers:
            handlers.remove(fn)
    for _, cache in _open.values():
        cache.close()
    _open.clear()
    del bpy.types.Object.tessarin_cache
    for cls in reversed(CLASSES):
        bpy.utils.unregister_class(cls)
