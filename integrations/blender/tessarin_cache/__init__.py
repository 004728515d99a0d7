"""Tessarin Cache: plays a selection cache (.sel) onto a mesh's vertex group, frame by frame.

The weights come from the `tessarin` Python module, which plays the file with the Tessarin
plug-in's own code: what a vertex gets here is what the modifier gives it, clamped to 0..1 as
Blender clamps every group weight (the float attribute output is not clamped).
"""

bl_info = {
    "name": "Tessarin Cache",
    "author": "Tessarin",
    "version": (1, 1, 0),
    "blender": (3, 4, 0),
    "location": "Properties > Object Data > Tessarin Cache",
    "description": "Plays a Tessarin selection cache (.sel) onto a vertex group",
    "category": "Animation",
}

import warnings

import bpy
import numpy as np
from bpy.app.handlers import persistent

from . import module, playback

# the module's warning for a cache of another vertex count: the status line says it here
warnings.filterwarnings("ignore", message=".* vertices per sample; the weights have", module=__name__)

SELECTION_TYPES = [
    ("REPLACE", "Replace", "The cache's weight replaces the group's", 0),
    ("ADD", "Add", "The cache's weight is added to the group's", 1),
    ("SUBTRACT", "Subtract", "The cache's weight is subtracted from the group's", 2),
]
SELECTION_INDEX = {identifier: index for identifier, _, _, index in SELECTION_TYPES}
OUTPUTS = [
    ("NODES", "Vertex Group (Geometry Nodes)",
     "Fast: the weights reach the group in Blender's evaluation, through a Geometry Nodes modifier at the "
     "bottom of the stack, for the modifiers above it; the group of the mesh itself (weight painting, "
     "scripts) keeps its own weights", 0),
    ("DIRECT", "Vertex Group (Direct)",
     "The group of the mesh itself is set every frame: what weight painting and scripts read too; slower", 1),
    ("ATTRIBUTE", "Float Attribute",
     f"Fastest: only the float point attribute '{playback.PLAYED}', for Geometry Nodes set-ups to read "
     "(Named Attribute); not clamped", 2),
]
CLAMP_NOTE = "Blender keeps group weights between 0 and 1, so results of Add and Subtract are clamped"
OVERRIDABLE = {'LIBRARY_OVERRIDABLE'}


def _frame(scene):
    return scene.frame_current + scene.frame_subframe


def _set_status(settings, text):
    if settings.status != text:
        settings.status = text


def _describe(cache, settings, vertices):
    counts = cache.counts
    lo, hi = int(counts.min()), int(counts.max())
    if lo == hi and lo != vertices:
        return f"vertex count {vertices}, cache has {lo}"
    if lo != hi and not (counts == vertices).any():
        return f"vertex count {vertices}, cache has {lo} to {hi}"
    last = settings.start + (cache.sample_count - 1) / cache.samples_per_frame
    return f"{cache.sample_count} samples, frames {settings.start:g} to {last:g}"


def _failure(e):
    tessarin = module.tessarin
    if tessarin is not None and isinstance(e, tessarin.CacheError):
        return str(e)
    if isinstance(e, OSError) and e.filename is not None:
        return f"{e.filename}: cannot open: {e.strerror}"
    return f"{type(e).__name__}: {e}"


def _nodes_modifiers(objs, settings):
    """The nodes modifier of each object (for the outputs other than Direct): Blender's evaluation reads
    the played weights from the mesh's attribute through it (putting them into the group, or passing
    the attribute on)."""
    group = playback.group_of(objs[0], settings).name if settings.output == 'NODES' else None
    for obj in objs:
        playback.nodes_modifier(obj, group)


def _output(mesh, objs, settings, entry, weights, frame_change):
    if settings.output != 'DIRECT':
        # the weights are in the mesh's attribute already; on a frame change the objects are evaluated
        # anyway (the nodes modifier depends on the time): the values written into the copy that
        # evaluation reads spare copying the whole mesh again
        if not (frame_change and playback.write_evaluated(mesh, weights)):
            mesh.update_tag()
        return
    groups = {}
    for obj in objs:  # objects sharing the mesh may list its groups in another order
        group = playback.group_of(obj, settings)
        groups.setdefault(group.index, group)
    # only the weights that changed since the frame before: one that stays (the zeros outside a
    # falloff) is not set again
    changed = None if entry.written is None else np.flatnonzero(weights.view(np.uint32) != entry.written.view(np.uint32))
    if changed is not None and len(changed) == 0:
        return
    for group in groups.values():
        playback.write_group(group, weights if changed is None else weights[changed], changed)
    entry.written = weights.copy()
    if len(objs) > 1:
        # VertexGroup.add has its own object evaluated anew, with the mesh as it is now; the other
        # objects showing the mesh need the mesh tagged (a tag more costs a frame a tenth of a millisecond)
        mesh.update_tag()


def play(mesh, objs, frame, frame_change=False):
    """Sets the output of `mesh` from its cache at `frame` (`frame_change`: before the evaluation of a
    new frame); any failure goes to the status line (and to stderr under -b)."""
    settings = mesh.tessarin_cache
    if not settings.enabled or not objs:
        return
    reason = playback.not_owned(mesh)
    if reason:  # the status line is the library's too: say it where it can be read
        for obj in objs:
            playback.say(obj, f"cannot play: {reason}")
        return
    if mesh.is_editmode:
        _set_status(settings, playback.PAUSED)
        return
    path = playback.absolute(mesh, settings.filepath)
    try:
        # the group set now is the one whose own weights are kept: another group set meanwhile gets
        # the old one its weights back first (a change of the group forgets what the mesh plays, so
        # one that plays has its group's weights kept)
        if not playback.plays(mesh) and playback.take_group(mesh, objs):
            playback.forget(mesh)
        if module.tessarin is None:
            raise RuntimeError(module.problem)
        if not path:
            raise RuntimeError("no cache file")
        vertices = len(mesh.vertices)
        entry = playback.playing(mesh, path, lambda cache: _describe(cache, settings, vertices))
        # exact ones are bits: the group shows them as 1.0; a group's weights are clamped as Blender
        # clamps them (the float attribute is not). Through nodes or as the attribute, the weights go
        # straight into the mesh's attribute, which the evaluation reads (a copy of 160 kB less at
        # 40,000 vertices; the call writes nothing before every sample it needs is read).
        output = settings.output
        if output == 'DIRECT':
            out = entry.out
        else:  # the modifiers first: making one may move what the mesh holds
            _nodes_modifiers(objs, settings)
            out = (playback.played_values(mesh, entry.incoming), entry.out[1])
        weights, _ = entry.cache.evaluate(
            frame, entry.incoming, None, start=settings.start, relative_offset=settings.relative_offset,
            strength=settings.strength, selection_type=SELECTION_INDEX[settings.selection_type], out=out,
            selected_as_one=True, clamp=output != 'ATTRIBUTE')
        _output(mesh, objs, settings, entry, weights, frame_change)
        status = entry.status
        for obj in objs:
            playback.say(obj, f"plays {path}: {status}")
    except Exception as e:  # a file gone or damaged while playing: say so, keep Blender going
        playback.forget(mesh)
        status = _failure(e)
        for obj in objs:
            playback.say(obj, f"cannot play {path or '(no file)'}: {status}")
    _set_status(settings, status)


def play_scene(scene, frame_change=False):
    frame = _frame(scene)
    meshes = {}
    for obj in scene.objects:
        if obj.type == 'MESH' and obj.data.tessarin_cache.enabled:
            meshes.setdefault(obj.data, []).append(obj)
    for mesh, objs in meshes.items():
        play(mesh, objs, frame, frame_change and not playback.rendering)


def _settings_changed(self, context):
    mesh = self.id_data
    playback.forget(mesh)
    play(mesh, playback.users(mesh, context.scene), _frame(context.scene))


def switch_off(mesh, objs):
    """Stops playing: the nodes modifiers gone, the kept group's own weights and members back."""
    playback.forget(mesh)
    for obj in objs:
        playback.remove_nodes_modifier(obj)
    playback.give_back(mesh, objs)
    playback.remove_attributes(mesh)
    mesh.update()
    _set_status(mesh.tessarin_cache, "off")


def _switched(self, context):
    mesh = self.id_data
    objs = playback.users(mesh, context.scene)
    if not objs:
        return
    try:
        if self.enabled:
            play(mesh, objs, _frame(context.scene))
        elif mesh.is_editmode:
            playback.forget(mesh)
            self.status = playback.OFF_PENDING
        else:
            switch_off(mesh, objs)
    except Exception as e:
        self.status = f"{type(e).__name__}: {e}"


def _output_changed(self, context):
    mesh = self.id_data
    if not self.enabled:
        return
    objs = playback.users(mesh, context.scene)
    try:
        playback.forget(mesh)
        if self.output == 'DIRECT':
            for obj in objs:
                playback.remove_nodes_modifier(obj)
        group = objs[0].vertex_groups.get(playback.kept_group(mesh)) if objs else None
        if self.output != 'DIRECT' and group is not None and playback.kept(mesh) and not mesh.is_editmode:
            # the group of the mesh itself gets its own weights back
            playback.restore_group(mesh, group)
        play(mesh, objs, _frame(context.scene))
    except Exception as e:
        self.status = f"{type(e).__name__}: {e}"


class TessarinCacheSettings(bpy.types.PropertyGroup):
    enabled: bpy.props.BoolProperty(
        name="Play", description="Play the cache onto the vertex group. " + CLAMP_NOTE, default=False,
        update=_switched, override=OVERRIDABLE)
    filepath: bpy.props.StringProperty(
        name="Cache File", description="The selection cache (.sel) to play (// is the .blend file's folder)",
        subtype='FILE_PATH', update=_settings_changed, override=OVERRIDABLE)
    group: bpy.props.StringProperty(
        name="Vertex Group", description="The vertex group the cache drives (created if missing). " + CLAMP_NOTE,
        default="Tessarin", update=_settings_changed, override=OVERRIDABLE)
    start: bpy.props.FloatProperty(
        name="Start Frame", description="The frame at which the cache's first sample plays", default=0.0,
        update=_settings_changed, override=OVERRIDABLE)
    relative_offset: bpy.props.BoolProperty(
        name="Relative Offset", description="Apply the change since the cache's first sample, times Strength",
        default=False, update=_settings_changed, override=OVERRIDABLE)
    strength: bpy.props.FloatProperty(
        name="Strength", description="Scale of the relative offset", default=1.0, min=-10.0, max=10.0,
        update=_settings_changed, override=OVERRIDABLE)
    selection_type: bpy.props.EnumProperty(
        name="Selection Type", description="How the cache's weight combines with the group's. " + CLAMP_NOTE,
        items=SELECTION_TYPES, default="REPLACE", update=_settings_changed, override=OVERRIDABLE)
    output: bpy.props.EnumProperty(
        name="Output", description="Where the played weights go", items=OUTPUTS, default="NODES",
        update=_output_changed, override=OVERRIDABLE)
    status: bpy.props.StringProperty(name="Status", default="off", override=OVERRIDABLE)
    kept_group: bpy.props.StringProperty(
        name="Kept Group", description="The group whose own weights are kept aside while the cache plays",
        default="", override=OVERRIDABLE)


class DATA_PT_tessarin_cache(bpy.types.Panel):
    bl_label = "Tessarin Cache"
    bl_space_type = 'PROPERTIES'
    bl_region_type = 'WINDOW'
    bl_context = "data"

    @classmethod
    def poll(cls, context):
        return context.object is not None and context.object.type == 'MESH'

    def draw_header(self, context):
        self.layout.prop(context.object.data.tessarin_cache, "enabled", text="")

    def draw(self, context):
        mesh = context.object.data
        settings = mesh.tessarin_cache
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
        layout.prop(settings, "output")
        reason = playback.not_owned(mesh) if settings.enabled else None
        layout.label(text=reason or settings.status, icon='INFO')


from . import legacy  # noqa: E402  (needs the settings above)


@persistent
def _on_frame(scene, depsgraph=None):
    # before the new frame is evaluated (frame_change_pre): the played weights are part of that one
    # evaluation, as a modifier's would be
    play_scene(scene, frame_change=True)


@persistent
def _on_render(*_):
    # a render evaluates copies of its own, which only a whole update of the mesh reaches
    playback.rendering = True


@persistent
def _render_ended(*_):
    playback.rendering = False


@persistent
def _on_undo(*_):
    # the groups are as the undo step has them: write them whole again
    playback.forget_all()


@persistent
def _on_load(_):
    # a reopened file: the meshes are new, so are their caches
    playback.forget_all()
    legacy.move_settings_to_meshes()
    scene = bpy.context.scene
    if scene is not None:
        play_scene(scene)


@persistent
def _on_update(scene, depsgraph=None):
    # a mesh paused in Edit Mode plays again once it leaves it; one switched off there gets its group
    # back then
    for obj in scene.objects:
        if obj.type == 'MESH' and not obj.data.is_editmode:
            settings = obj.data.tessarin_cache
            if settings.enabled and settings.status == playback.PAUSED:
                play(obj.data, playback.users(obj.data, scene), _frame(scene))
            elif not settings.enabled and settings.status == playback.OFF_PENDING:
                switch_off(obj.data, playback.users(obj.data, scene))


CLASSES = (TessarinCacheSettings, DATA_PT_tessarin_cache)
HANDLERS = ((bpy.app.handlers.frame_change_pre, _on_frame), (bpy.app.handlers.load_post, _on_load),
            (bpy.app.handlers.depsgraph_update_post, _on_update), (bpy.app.handlers.render_init, _on_render),
            (bpy.app.handlers.render_complete, _render_ended), (bpy.app.handlers.render_cancel, _render_ended),
            (bpy.app.handlers.undo_post, _on_undo), (bpy.app.handlers.redo_post, _on_undo))


def register():
    for cls in CLASSES:
        bpy.utils.register_class(cls)
    bpy.types.Mesh.tessarin_cache = bpy.props.PointerProperty(type=TessarinCacheSettings, override=OVERRIDABLE)
    for handlers, fn in HANDLERS:
        handlers.append(fn)


def unregister():
    for handlers, fn in HANDLERS:
        if fn in handlers:
            handlers.remove(fn)
    playback.forget_all()
    del bpy.types.Mesh.tessarin_cache
    for cls in reversed(CLASSES):
        bpy.utils.unregister_class(cls)
