"""Selection cache files (.sel): open, check, play and write them with the Tessarin plug-in's own code.

    import tessarin
    with tessarin.open("shot.sel") as cache:
        track = cache.read(vertices=20_100)  # one vertex over every sample, read alone
"""
import difflib as _difflib
import functools as _functools

from ._tessarin import Cache, CacheError, Writer, __version__, open, verify

__all__ = ["Cache", "CacheError", "Writer", "open", "verify", "__version__"]


def _parameters(doc):
    """The parameters of a compiled function's first signature line, as "name: type = default"."""
    line = (doc or "").split("\n", 1)[0]
    inside = line[line.find("(") + 1:line.rfind(") ->") if ") ->" in line else line.rfind(")")]
    return [p for p in inside.split(", ") if p and not p.startswith("self:")]


def _wrong_arguments(title, doc, kwargs):
    """One line of our own for arguments a compiled function does not take (the binding's message lists
    every signature with its C++ types)."""
    params = _parameters(doc)
    names = [p.split(":")[0].split("=")[0].strip() for p in params if p != "*"]
    shown = ", ".join(p.split(":")[0] + (" =" + p.split("=", 1)[1] if "=" in p else "") for p in params)
    for key in kwargs:
        if key not in names:
            near = _difflib.get_close_matches(key, names, n=1)
            hint = f"; did you mean {near[0]}?" if near else ""
            return f"{title}() takes no argument {key!r}{hint} (it takes {shown})"
    return f"{title}() takes ({shown}): the arguments given do not fit"


def _explained(fn, title, doc):
    @_functools.wraps(fn)
    def call(*args, **kwargs):
        try:
            return fn(*args, **kwargs)
        except TypeError as e:
            if "incompatible function arguments" not in str(e) and "incompatible constructor arguments" not in str(e):
                raise
            raise TypeError(_wrong_arguments(title, doc, kwargs)) from None
    return call


def _explain_arguments():
    for cls in (Cache, Writer):
        for name in ("__init__", "weights", "times", "read", "__getitem__", "evaluate", "append", "close"):
            fn = cls.__dict__.get(name)
            if fn is not None and not isinstance(fn, property):
                title = cls.__name__ if name == "__init__" else f"{cls.__name__}.{name}"
                setattr(cls, name, _explained(fn, title, fn.__doc__))
    module = globals()
    for name in ("open", "verify"):
        module[name] = _explained(module[name], name, module[name].__doc__)
        module[name].__module__, module[name].__qualname__ = __name__, name


def _reduce(cache):
    # pickled as its file's name and opened again where it is unpickled (a worker of a pool)
    return open, (cache.path,)


_explain_arguments()
Cache.__reduce__ = _reduce
