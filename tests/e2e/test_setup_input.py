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


# Before the header is read the run does not know it is unattended: a file
# that cannot be loaded, a module without the archive and a
# bare stub all end quietly with exit code 0 and no log.
def test_failures_before_the_header_exit_zero(tmp_path):
    no_archive = make_resource_module(tmp_path, {"OTHER": b"abc"}, name="other")
    for args in ([z_path(tmp_path / "missing.dll")], [z_path(no_archive)], []):
        code, log = run_setup(STUB, *args)
        assert (code, log) == (0, None), args
