"""Where the archive comes from and what an unreadable one does: archives
written byte by byte into resource-only modules and named on the command
line, so that inputs the builder never makes can be tried."""
import pytest

from setuphelpers import (STUB, drive_c, fresh_dir, make_resource_module, parse_log, raw_archive, run_setup,
                          soDefaultFolder, soSilent)


def z_path(p):
    return "Z:" + str(p).replace("/", "\\")


@pytest.fixture
def target():
    return fresh_dir(drive_c() / "sxtests" / "input")


# The archive in the resources of the file named by the one argument is
# extracted; the log holds the welcome text (macros replaced after the line
# breaks) and the final message, and the run exits with 0.
def test_archive_from_file_named_on_command_line(tmp_path, target):
    data = bytes(range(256)) * 300
    archive = raw_archive(options=soSilent | soDefaultFolder, default_folder="C:\\sxtests\\input",
                          strings=["Setup", "Prod\\new", "", "Hello\\n<ProductName>"],
                          files=[("a.txt", b"hello", False, -1), ("sub\\b.bin", data, True, -1)])
    dll = make_resource_module(tmp_path, {"SX_STORAGE": archive})
    code, log = run_setup(STUB, z_path(dll))
    assert code == 0
    assert (target / "a.txt").read_bytes() == b"hello"
    assert (target / "sub" / "b.bin").read_bytes() == data
    first, entries = parse_log(log)
    assert first.startswith("Created on ")
    assert entries == [("Hidden Message", "Welcome Message Code 262", "Hello\r\nProd\\new"),
                       ("Hidden Message", "Setup Message Code 261", "Setup completed.")]


# An unattended archive that cannot be read past its header: one error entry
# "Initialization Code 258", exit code 8, nothing written.
@pytest.mark.parametrize("case", ["empty string table", "data area short"])
def test_unreadable_archive(tmp_path, target, case):
    files = [("a.txt", b"x" * 1000, False, -1)]
    if case == "empty string table":
        archive = raw_archive(options=soSilent | soDefaultFolder, default_folder="C:\\sxtests\\input", table="",
                              files=files)
    else:
        archive = raw_archive(options=soSilent | soDefaultFolder, default_folder="C:\\sxtests\\input",
                              files=files)[:-1]
    dll = make_resource_module(tmp_path, {"SX_STORAGE": archive})
    code, log = run_setup(STUB, z_path(dll))
    assert code == 8
    first, entries = parse_log(log)
    assert entries == [("Error", "Initialization Code 258", "Error")]
    assert not (target / "a.txt").exists()


# A stored name that would leave its folder (or that Windows reserves) makes
# the archive damaged: the same error entry, exit code 8, and nothing written
# anywhere, not even the entries before it.
@pytest.mark.parametrize("name", ["..\\..\\escaped.txt", "sub\\..\\..\\escaped.txt", "C:\\sxtests\\escaped.txt",
                                  "\\sxtests\\escaped.txt", "a.txt:stream", "CON", "dots.\\x"])
def test_names_that_leave_the_folder(tmp_path, target, name):
    escaped = drive_c() / "sxtests" / "escaped.txt"
    if escaped.exists():
        escaped.unlink()
    files = [("first.txt", b"first", False, -1), (name, b"x" * 100, False, -1)]
    archive = raw_archive(options=soSilent | soDefaultFolder, default_folder="C:\\sxtests\\input\\deep",
                          files=files)
    dll = make_resource_module(tmp_path, {"SX_STORAGE": archive})
    code, log = run_setup(STUB, z_path(dll))
    assert code == 8
    first, entries = parse_log(log)
    assert entries == [("Error", "Initialization Code 258", "Error")]
    assert not escaped.exists()
    assert list(target.rglob("*")) == []


# Before the header is read the run does not know it is unattended: a file
# that cannot be loaded, a module without the archive and a
# bare stub all end quietly with exit code 0 and no log.
def test_failures_before_the_header_exit_zero(tmp_path):
    no_archive = make_resource_module(tmp_path, {"OTHER": b"abc"}, name="other")
    for args in ([z_path(tmp_path / "missing.dll")], [z_path(no_archive)], []):
        code, log = run_setup(STUB, *args)
        assert (code, log) == (0, None), args


# Damaged data of one file (a zlib stream cut short, corrupt bytes, a length
# that differs from the entry's) is that file's failure: the error entry with
# its path, exit code 8, no short file left and nothing after it written.
@pytest.mark.parametrize("damage", ["cut", "corrupt", "longer"])
def test_damaged_file_data(tmp_path, target, damage):
    data = bytes(range(256)) * 400
    change = {"cut": lambda b: b[:len(b) // 2],
              "corrupt": lambda b: b[:20] + bytes(x ^ 0x55 for x in b[20:200]) + b[200:],
              "longer": lambda b: __import__("zlib").compress(data + b"extra")}[damage]
    archive = raw_archive(options=soSilent | soDefaultFolder, default_folder="C:\\sxtests\\input",
                          files=[("ok.txt", b"fine", False, -1), ("new\\bad.bin", data, True, -1, change),
                                 ("after.txt", b"after", False, -1)])
    dll = make_resource_module(tmp_path, {"SX_STORAGE": archive})
    code, log = run_setup(STUB, z_path(dll))
    assert code == 8
    entries = parse_log(log)[1]
    assert len(entries) == 1 and entries[0][:2] == ("Error", "Setup Extract Files Code 261")
    assert entries[0][2].startswith('Cannot write to file:\r\n"C:\\sxtests\\input\\new\\bad.bin"\r\n')
    assert (target / "ok.txt").read_bytes() == b"fine"
    assert not (target / "new" / "bad.bin").exists()
    assert not (target / "after.txt").exists()


# A library the header announces but the module lacks: the run ends without
# a message after the header was read, so unattended it exits with 8 (there
# is no entry to log, so no log file).
def test_missing_client_library_exits_8(tmp_path, target):
    archive = raw_archive(options=soSilent | soDefaultFolder | 0x100, default_folder="C:\\sxtests\\input",
                          files=[("a.txt", b"a", False, -1)])
    dll = make_resource_module(tmp_path, {"SX_STORAGE": archive})
    assert run_setup(STUB, z_path(dll)) == (8, None)
    assert not (target / "a.txt").exists()
