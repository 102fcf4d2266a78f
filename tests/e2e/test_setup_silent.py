"""Unattended setups made with sxbuild, run under Wine: files and bytes in
their folders, compressed and enciphered data, file dates, the run log's
exact text and the exit code."""
import datetime
import os

import pytest

from setuphelpers import build_setup, drive_c, fresh_dir, parse_log, run_setup

WELCOME = ("Hidden Message", "Welcome Message Code 262")
COMPLETED = ("Hidden Message", "Setup Message Code 261", "Setup completed.")


def pattern(size, seed):
    out = bytearray(size)
    x = seed
    for i in range(size):
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        out[i] = (x >> 24) if (i // 700) % 2 else (i % 11)
    return bytes(out)


@pytest.fixture
def target(request):
    return fresh_dir(drive_c() / "sxtests" / request.node.name.replace("[", "_").replace("]", ""))


def win(p):
    return "C:\\" + str(p.relative_to(drive_c())).replace("/", "\\")


# Stored and compressed files in the target folder and in subfolders land
# byte for byte with the header's date; the log has its first line, one
# block per entry and nothing else; exit code 0.
def test_files_bytes_dates_and_log(tmp_path, target):
    files = {
        "product/readme.txt": b"Read me first.\r\n",
        "product/empty.dat": b"",
        "product/bin/tool.exe": pattern(150000, 1),
        "product/bin/data/table.bin": pattern(61440, 2),
        "product/big.bin": pattern(300001, 3),
    }
    project = f"""
[Setup]
Silent = yes
DefaultFolder = {win(target)}
StampDate = yes
FileDate = 2003-04-05 06:07:08
[Strings]
SetupName = Test Setup
ProductName = Test Product
WelcomeText = Welcome to <ProductName>.\\nEnjoy.
[Files]
File = product/readme.txt
File = product/empty.dat | compress=no
File = product/big.bin | compress=no
File = product/bin/* | name=bin | recurse
"""
    exe = build_setup(tmp_path, project, files, name="silent_files")
    code, log = run_setup(exe)
    assert code == 0
    for rel, data in files.items():
        p = target / rel[len("product/"):]
        assert p.read_bytes() == data, rel
        stamp = datetime.datetime.fromtimestamp(os.stat(p).st_mtime)
        assert stamp == datetime.datetime(2003, 4, 5, 6, 7, 8), rel
    first, entries = parse_log(log)
    assert first.startswith("Created on ") and "\r\n" not in first
    assert entries == [WELCOME + ("Welcome to Test Product.\r\nEnjoy.",), COMPLETED]
    assert not log.endswith("\r\n")


# A file that cannot be written (a folder of its name is in the way) is the
# error entry with the path exactly as it is, and the run ends with 8: the
# files before it are there, the ones after it are not.
def test_file_that_cannot_be_written_ends_the_run(tmp_path, target):
    (target / "new" / "app.dll").mkdir(parents=True)
    files = {"a.txt": b"first", "app.dll": b"MZ" + pattern(5000, 4), "z.txt": b"last"}
    project = f"""
[Setup]
Silent = yes
DefaultFolder = {win(target)}
[Strings]
SetupName = Test Setup
ProductName = Test Product
[Files]
File = a.txt
File = app.dll | name=new\\app.dll
File = z.txt
"""
    exe = build_setup(tmp_path, project, files, name="silent_cannot")
    code, log = run_setup(exe)
    assert code == 8
    first, entries = parse_log(log)
    path = win(target) + "\\new\\app.dll"
    assert entries == [("Error", "Setup Extract Files Code 261",
                        "Cannot write to file:\r\n\"" + path + "\"\r\n\r\nPossible reasons:\r\n"
                        "1. Disk is full or inaccessible.\r\n2. The file is in use by system or another program."
                        "\r\n3. Source data is corrupted.\r\n\r\nTIP: If disk is accessible and has enough free "
                        "\r\nspace, try to restart your machine, then try\r\nagain. If the problem persists, please"
                        "\r\ncontact the product vendor.")]
    assert (target / "a.txt").read_bytes() == b"first"
    assert not (target / "z.txt").exists()


# soNoFinalMessage: no entry for the end of the run; a run that logs nothing
# writes no log file at all and exits with 0.
def test_no_final_message_and_no_log(tmp_path, target):
    project = f"""
[Setup]
Silent = yes
NoFinalMessage = yes
DefaultFolder = {win(target)}
[Strings]
SetupName = Quiet Setup
ProductName = Quiet
[Files]
File = q.txt
"""
    exe = build_setup(tmp_path, project, {"q.txt": b"quiet"}, name="silent_quiet")
    code, log = run_setup(exe)
    assert (code, log) == (0, None)
    assert (target / "q.txt").read_bytes() == b"quiet"


# An archive without file entries still runs the steps after extraction and
# completes.
def test_archive_without_files_completes(tmp_path, target):
    project = f"""
[Setup]
Silent = yes
DefaultFolder = {win(target)}\\made
[Strings]
SetupName = Empty Setup
ProductName = Empty
"""
    exe = build_setup(tmp_path, project, {}, name="silent_empty")
    code, log = run_setup(exe)
    assert code == 0
    assert parse_log(log)[1] == [COMPLETED]
    assert (target / "made").is_dir()
