"""Opening, refusing and reading cache files: what the modifier and the cache tool would say."""
import struct

import numpy as np
import pytest

import tessarin
from conftest import write_fixed, write_variable


def header(tag, spf, total):
    return struct.pack("<3i", tag, spf, total)


# Files the modifier treats as missing, each refused with the tool's own line.
DAMAGED = {
    "short_header": b"\x9c\xff\xff",
    "no_samples_per_frame": header(-100, 0, 1) + struct.pack("<fi", 0.5, 0) + struct.pack("<i", 1),
    "no_samples": header(-100, 1, 0),
    "table_before_header_end": header(-100, 1, 5),
    "negative_count": header(-100, 1, 1) + struct.pack("<fi", 0.5, 0) + struct.pack("<i", -1),
    "counts_past_table": header(-100, 1, 2) + struct.pack("<fi", 0.5, 0) + struct.pack("<2i", 1, 7),
    "fixed_without_a_whole_sample": header(4, 1, 2) + struct.pack("<fi", 0.5, 0),
}


@pytest.mark.parametrize("name", sorted(DAMAGED))
def test_refuses_what_the_modifier_refuses_with_the_tools_line(tmp_path, commands, name):
    path = tmp_path / f"{name}.sel"
    path.write_bytes(DAMAGED[name])
    with pytest.raises(tessarin.CacheError) as e:
        tessarin.open(str(path))
    info = commands.run(commands.tool, "info", str(path), check=False)
    assert info.returncode == 1
    assert str(e.value) == info.stderr.strip()
    assert str(e.value).startswith(f"{path}: byte ")


def test_refuses_missing_files_and_folders(tmp_path):
    with pytest.raises(tessarin.CacheError, match="cannot open"):
        tessarin.open(str(tmp_path / "absent.sel"))
    with pytest.raises(tessarin.CacheError, match="not a plain file"):
        tessarin.open(str(tmp_path))


def test_variable_count_file_reports_its_counts_and_samples(tmp_path):
    path = write_variable(tmp_path / "v.sel", [[0.0, 0.5], [1.0, 0.25, 0.75], [0.125]], spf=2)
    with tessarin.open(str(path)) as c:
        assert c.samples_per_frame == 2
        assert c.sample_count == 3
        assert c.fixed_count is None
        assert c.counts.dtype == np.int32 and list(c.counts) == [2, 3, 1]
        w = c.weights(1)
        assert w.dtype == np.float32 and list(w) == [1.0, 0.25, 0.75]
        t = c.times(1)
        assert t.dtype == np.int32 and list(t) == [80, 80, 80], "the recorder's second sample of frame 0"
        assert list(c.times(2)) == [160]
    assert c.closed


def test_fixed_count_file_plays_its_whole_samples_only(tmp_path):
    path = tmp_path / "f.sel"
    write_fixed(path, 2, [[0.5, 0.25], [0.75, 1.0], [0.0, 0.125]])
    # a cut in the last sample: the whole samples before it still play, as in the modifier
    path.write_bytes(path.read_bytes()[:-4])
    c = tessarin.open(str(path))
    assert c.fixed_count == 2
    assert c.sample_count == 2
    assert list(c.counts) == [2, 2]
    assert list(c.weights(1)) == [0.75, 1.0]


def test_wrong_sample_indexes_and_a_closed_cache_raise_with_a_sentence(tmp_path):
    c = tessarin.open(str(write_variable(tmp_path / "v.sel", [[0.5], [0.25]])))
    for k in (-1, 2, 1 << 40):
        with pytest.raises(IndexError, match="outside the file's samples 0 to 1"):
            c.weights(k)
        with pytest.raises(IndexError):
            c.times(k)
    c.close()
    c.close()  # twice is harmless
    for use in (lambda: c.weights(0), lambda: c.sample_count,
                lambda: c.evaluate(0, np.zeros(1, np.float32), None)):
        with pytest.raises(ValueError, match="closed"):
            use()


def test_opening_reads_the_header_and_table_only(tmp_path):
    # a file whose records are mostly missing opens; only a read of a missing sample sees zeros
    path = tmp_path / "big.sel"
    count, total = 1_000_000, 4
    with open(path, "wb") as f:
        f.write(header(count, 1, total))
        f.truncate(12 + 8 * count * total)  # a sparse file: nothing but the header written
    c = tessarin.open(str(path))
    assert c.sample_count == total
    assert c.weights(3).shape == (count,)


@pytest.mark.parametrize("content", [b"", DAMAGED["negative_count"], DAMAGED["counts_past_table"]])
def test_verify_gives_the_tools_json(tmp_path, commands, content):
    import json
    path = tmp_path / "c.sel"
    path.write_bytes(content or write_variable(tmp_path / "ok.sel", [[0.5, 1.0]]).read_bytes())
    out = commands.run(commands.tool, "verify", "--format", "json", str(path), check=False)
    assert tessarin.verify(str(path)) == json.loads(out.stdout)


def test_verify_of_a_missing_file_raises(tmp_path):
    with pytest.raises(tessarin.CacheError, match="cannot open"):
        tessarin.verify(str(tmp_path / "absent.sel"))
