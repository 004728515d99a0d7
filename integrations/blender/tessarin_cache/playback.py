"""Playing a cache onto a mesh: the group's own weights kept aside, the played weights put into the
vertex group (through a Geometry Nodes modifier, or directly) or into a float point attribute."""
import collections
import ctypes
import itertools
import sys

import bpy
import numpy as np

from . import module

INCOMING = "tessarin_incoming"  # the group's weights before the cache, kept in the mesh
MEMBERS = "tessarin_members"  # which vertices were members of the group before the cache
PLAYED = "tessarin_played"  # the played weights: for the Geometry Nodes modifier, or the output itself
NODES = "Tessarin Cache"  # the name of that modifier and of its node group
PAUSED = "paused in Edit Mode: plays again when you leave it"
# Blender lets no script change a group's members in Edit Mode: switching off waits for Object Mode
OFF_PENDING = "switched off in Edit Mode: the group gets its own weights back when you leave it"

# Open caches by mesh, kept open between frames as the modifier keeps its file open.
_open = {}
# Whether a render is under way: its frames are evaluated in copies of its own.
rendering = False
# The node groups known to hold what the modifier needs (checked once a session: files saved before
# may hold older ones).
_checked_trees = set()
# What was said on stderr under -b, so that a farm log gets each line once.
_said = set()


class Playing:
    """What a mesh plays from, kept between frames: the open cache (as the modifier keeps its file open),
    the incoming weights, the arrays the results go into, and the status line of that file."""

    def __init__(self, path, cache, incoming, vertices, describe):
        self.path, self.cache, self.incoming = path, cache, incoming
        self.out = (np.empty(vertices, np.float32), np.empty(vertices, bool))
        self.status = describe(cache)
        self.written = None  # the weights last put into the group itself (Direct), None: not yet


def forget(mesh):
    entry = _open.pop(mesh.as_pointer(), None)
    if entry:
        entry.cache.close()


def forget_all():
    for entry in _open.values():
        entry.cache.close()
    _open.clear()
    _said.clear()
    _checked_trees.clear()


def plays(mesh):
    return mesh.as_pointer() in _open


def playing(mesh, path, describe):
    """What `mesh` plays from `path`: opened now when it is not, again when the file changed on disk
    (re-recorded while it plays) or the mesh's vertex count did."""
    key = mesh.as_pointer()
    entry = _open.get(key)
    if entry and entry.path == path and len(entry.incoming) == len(mesh.vertices) and not entry.cache.changed:
        return entry
    forget(mesh)
    cache = module.tessarin.open(path)
    _open[key] = entry = Playing(path, cache, incoming(mesh), len(mesh.vertices), describe)
    return entry


def users(mesh, scene):
    """The objects of the scene that show `mesh` (linked duplicates share one)."""
    return [o for o in scene.objects if o.type == 'MESH' and o.data == mesh]


def not_owned(mesh):
    """Why the add-on must not write into `mesh`, or None: linked data belongs to its library."""
    if mesh.library is not None:
        return f"linked from {mesh.library.filepath}: only that file can play it (or make a library override)"
    return None


def absolute(mesh, path):
    """The cache file's name: // is the folder of the .blend file the settings come from (the library's
    for an override, whose settings came with it)."""
    if not path:
        return ""
    override = mesh.override_library
    library = mesh.library or (override.reference.library if override and override.reference else None)
    return bpy.path.abspath(path, library=library)


def say(obj, text):
    """One line on stderr per object and message under -b, for farm logs."""
    if bpy.app.background and (obj.name, text) not in _said:
        _said.add((obj.name, text))
        print(f"tessarin_cache: {obj.name}: {text}", file=sys.stderr)


def group_of(obj, settings):
    name = settings.group or "Tessarin"
    group = obj.vertex_groups.get(name)
    if group is None:
        group = obj.vertex_groups.new(name=name)
    return group


def read_group(obj, group):
    """The group's weights (0.0 outside it) and its members."""
    n = len(obj.data.vertices)
    weights, members = np.zeros(n, dtype=np.float32), np.zeros(n, dtype=bool)
    index = group.index
    for v in obj.data.vertices:
        for g in v.groups:
            if g.group == index:
                weights[v.index], members[v.index] = g.weight, True
    return weights, members


def write_group(group, weights, indices=None):
    """Sets the weights of `indices` (every vertex when None): one call per distinct weight, the vertices
    of each found by one sort (of the bit patterns, which groups equal weights as well), so the cost
    grows with the vertices alone whatever the weights."""
    weights = np.ascontiguousarray(weights, dtype=np.float32)
    if len(weights) == 0:
        return
    order = np.argsort(weights.view(np.uint32), kind='stable')
    ranked = weights[order]
    ends = np.append(np.flatnonzero(ranked[1:] != ranked[:-1]) + 1, len(ranked))
    values = ranked[ends - 1].tolist()
    if indices is not None:
        order = np.asarray(indices)[order]
    order, ends = order.tolist(), ends.tolist()
    # the calls made without a Python loop around them: at thousands of distinct weights the loop's own
    # steps were a tenth of the time
    pieces = map(order.__getitem__, map(slice, [0] + ends[:-1], ends))
    collections.deque(itertools.starmap(group.add, zip(pieces, values, itertools.repeat('REPLACE'))), maxlen=0)


def _attribute(mesh, name, kind):
    attribute = mesh.attributes.get(name)
    if attribute is None or attribute.domain != 'POINT' or attribute.data_type != kind:
        if attribute is not None:
            mesh.attributes.remove(attribute)
        attribute = mesh.attributes.new(name, kind, 'POINT')
    return attribute


def _get(mesh, name, kind, dtype, fill):
    attribute = mesh.attributes.get(name)
    n = len(mesh.vertices)
    if attribute is None or attribute.domain != 'POINT' or attribute.data_type != kind:
        return np.full(n, fill, dtype=dtype)
    out = np.empty(n, dtype=dtype)
    attribute.data.foreach_get("value", out)
    return out


def _set(attribute, values):
    """Sets every value of a point attribute from an array of its own type (float32, bool): straight
    into the array the attribute owns. foreach_set would check each value on its way (a third of a
    frame at 40,000 vertices), and on a library override it leaves the values as the library has them,
    without a word (they are not editable through RNA there, though the override owns its copy)."""
    values = np.ascontiguousarray(values)
    if len(attribute.data) != len(values):
        raise ValueError(f"{attribute.name}: {len(attribute.data)} values, {len(values)} given")
    if len(values):
        ctypes.memmove(attribute.data[0].as_pointer(), values.ctypes.data, values.nbytes)


def kept(mesh):
    """Whether the group's own weights are kept aside (the cache plays, or switching off is pending)."""
    return mesh.attributes.get(INCOMING) is not None


def keep_incoming(mesh, weights, members, group_name):
    _set(_attribute(mesh, INCOMING, 'FLOAT'), weights)
    _set(_attribute(mesh, MEMBERS, 'BOOLEAN'), members)
    mesh.tessarin_cache.kept_group = group_name


def kept_group(mesh):
    """The group whose weights are kept aside (files saved before the name was kept: the group set)."""
    settings = mesh.tessarin_cache
    return settings.kept_group or settings.group or "Tessarin"


def incoming(mesh):
    return _get(mesh, INCOMING, 'FLOAT', np.float32, 0.0)


def restore_group(mesh, group):
    """The group as it was before the cache: its weights and its members, exactly. (Files saved before
    the members were kept: every vertex was a member then.)"""
    members = _get(mesh, MEMBERS, 'BOOLEAN', bool, True)
    outside = np.flatnonzero(~members)
    if len(outside):
        group.remove(outside.tolist())
    inside = np.flatnonzero(members)
    write_group(group, incoming(mesh)[inside], inside)


def take_group(mesh, objs):
    """Keeps the weights of the group set aside, as the incoming weights the cache combines with; the
    group kept before, when another, gets its own back first. Nothing when they are kept already:
    the group holds played weights then."""
    name = mesh.tessarin_cache.group or "Tessarin"
    if kept(mesh):
        if kept_group(mesh) == name:
            return False
        give_back(mesh, objs)
    keep_incoming(mesh, *read_group(objs[0], group_of(objs[0], mesh.tessarin_cache)), name)
    return True


def give_back(mesh, objs):
    """The kept group's own weights and members back, the copies dropped; nothing when none are kept
    (switched off twice, or never played)."""
    if not kept(mesh):
        return
    if objs:
        group = objs[0].vertex_groups.get(kept_group(mesh))
        if group is not None:  # a group removed meanwhile has nothing to get back
            restore_group(mesh, group)
    remove_attributes(mesh)
    mesh.tessarin_cache.kept_group = ""


def played_values(mesh, incoming):
    """The values of the float point attribute PLAYED, as an array over the memory the attribute owns,
    for the evaluation to write into: got again at every frame, since any change of the mesh may move
    them. A new attribute holds the `incoming` weights until a frame plays."""
    attribute = mesh.attributes.get(PLAYED)
    if attribute is None or attribute.domain != 'POINT' or attribute.data_type != 'FLOAT':
        attribute = _attribute(mesh, PLAYED, 'FLOAT')
        _set(attribute, incoming)
    n = len(attribute.data)
    if n == 0:
        return np.empty(0, np.float32)
    return np.frombuffer((ctypes.c_float * n).from_address(attribute.data[0].as_pointer()), np.float32)


def write_evaluated(mesh, weights):
    """Puts the played weights into the copy of the mesh that each view layer's evaluation reads, when
    that copy holds the attribute already; False when one does not (the mesh must be updated whole)."""
    written = False
    for view_layer in bpy.context.scene.view_layers:
        depsgraph = view_layer.depsgraph
        copy = mesh.evaluated_get(depsgraph) if depsgraph is not None else None
        if copy is None or copy.as_pointer() == mesh.as_pointer():
            continue
        attribute = copy.attributes.get(PLAYED)
        if attribute is None or attribute.data_type != 'FLOAT' or attribute.domain != 'POINT' \
                or len(attribute.data) != len(weights):
            return False
        ctypes.memmove(attribute.data[0].as_pointer(), weights.ctypes.data, weights.nbytes)
        written = True
    return written


def remove_attributes(mesh):
    for name in (PLAYED, INCOMING, MEMBERS):
        attribute = mesh.attributes.get(name)
        if attribute is not None:
            mesh.attributes.remove(attribute)


def node_group(store):
    """The node group of the modifier: one that stores the float point attribute PLAYED into the
    attribute (the vertex group) named by its string input, or one that passes the geometry on (the
    float attribute output). Each holds a Scene Time node, so that Blender evaluates the object again
    at every frame, as it does for a modifier playing a file."""
    name = NODES if store else NODES + " (attribute)"
    tree = bpy.data.node_groups.get(name)
    if tree is not None:
        if not any(n.bl_idname == 'GeometryNodeInputSceneTime' for n in tree.nodes):
            tree.nodes.new('GeometryNodeInputSceneTime')  # a file saved before the trees held one
        return tree
    tree = bpy.data.node_groups.new(name, 'GeometryNodeTree')
    tree.inputs.new('NodeSocketGeometry', "Geometry")
    tree.inputs.new('NodeSocketString', "Group")
    tree.outputs.new('NodeSocketGeometry', "Geometry")
    inputs, outputs = tree.nodes.new('NodeGroupInput'), tree.nodes.new('NodeGroupOutput')
    tree.nodes.new('GeometryNodeInputSceneTime')
    if not store:
        tree.links.new(inputs.outputs["Geometry"], outputs.inputs["Geometry"])
        return tree
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


def nodes_modifier(obj, group_name):
    """The Geometry Nodes modifier at the bottom of the stack that stores the played weights into the
    group `group_name`, or (None) only has the object evaluated at every frame."""
    mod = obj.modifiers.get(NODES)
    tree_name = NODES if group_name is not None else NODES + " (attribute)"
    if mod is None or mod.type != 'NODES':
        mod = obj.modifiers.new(NODES, 'NODES')
        with bpy.context.temp_override(object=obj):
            bpy.ops.object.modifier_move_to_index(modifier=mod.name, index=0)
    tree = mod.node_group
    if tree is None or tree.name != tree_name or tree.as_pointer() not in _checked_trees:
        tree = mod.node_group = node_group(group_name is not None)
        _checked_trees.add(tree.as_pointer())
    if group_name is not None:
        key = tree.inputs["Group"].identifier
        if mod[key] != group_name:
            mod[key] = group_name
    return mod


def remove_nodes_modifier(obj):
    mod = obj.modifiers.get(NODES)
    if mod is not None and mod.type == 'NODES':
        obj.modifiers.remove(mod)
