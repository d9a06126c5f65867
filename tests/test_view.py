import itertools
import json
import signal
import subprocess
import sys
import urllib.error
import urllib.request

import pytest

import vellomar
import vellomar.fhir
from vellomar.cli import main
from vellomar.viewer.detail import describe, detail

from conftest import VIEW_MESSAGES


def get(url):
    """(status, body) of a GET of `url`; JSON bodies decoded."""
    try:
        with urllib.request.urlopen(url, timeout=30) as answer:
            status, kind, data = answer.status, answer.headers["Content-Type"], answer.read()
    except urllib.error.HTTPError as error:
        status, kind, data = error.code, error.headers["Content-Type"], error.read()
    return status, json.loads(data) if kind.startswith("application/json") else data


@pytest.mark.parametrize(("path", "status"), [
    ("/", 403), ("/{t}x/", 403), ("/x{t}/api/info", 403), ("/api/info?token={t}", 403),
    ("/{t}", 200), ("/{t}/", 200), ("/{t}/view.js", 200), ("/{t}/api/nothing", 404),
])
def test_every_request_carries_the_token(view_server, path, status):
    root = view_server.url.rsplit("/", 2)[0]
    assert root.startswith("http://127.0.0.1:")
    assert get(root + path.format(t=view_server.token))[0] == status


@pytest.mark.parametrize(("query", "total", "ids"), [
    ("", 4, ["C1", "C2", None, "C4"]),
    ("PID-5-1 = DOE", 2, ["C1", "C4"]),
    ("MSH-9-2 = A08", 1, ["C2"]),
    ("PID-5-1 ~ smi ; MSH-9-1 != ORU", 1, ["C2"]),
    ("PID-5-1 = DOE; MSH-9-2 = A08", 0, []),
    ("PID-5-1", 400, "'PID-5-1' is not a condition: PATH = VALUE, PATH != VALUE or PATH ~ TEXT"),
    ("PID-x = 1", 400, "PID-x: Invalid field index: 'x'"),
])
def test_filters_and_pages(view_server, query, total, ids):
    url = view_server.url + "api/messages?" + urllib.parse.urlencode({"filter": query})
    status, page = get(url)
    if status == 400:
        assert (total, page) == (400, {"error": ids})
        return
    assert (status, page["total"], page["all"]) == (200, total, 4)
    assert [row.get("control_id") for row in page["rows"]] == ids
    status, page = get(url + "&start=1&count=1")
    assert [row.get("control_id") for row in page["rows"]] == ids[1:2]


def test_rows_name_the_file_and_offsets_and_findings(view_server):
    _, page = get(view_server.url + "api/messages")
    rows = page["rows"]
    # Counted past the byte order mark, as in the file.
    offsets = list(itertools.accumulate((len(m) for m in VIEW_MESSAGES[:-1]), initial=3))
    assert [row["offset"] for row in rows] == offsets
    assert rows[1] == {
        "n": 1, "file": view_server.archive.files[0].name, "number": 2, "offset": offsets[1], "type": "ADT^A08", "control_id": "C2",
        "time": "20240102", "patient_id": "MRN2", "version": "2.5", "errors": 0, "warnings": 1}
    assert [f.severity for f in vellomar.validate(VIEW_MESSAGES[1].decode())] == ["warning"]
    assert rows[2]["bad"] == ("'utf-8' codec can't decode byte 0xff in position 51: "
                              "invalid start byte")


@pytest.mark.parametrize(("query", "expected"), [
    ("pos=1", {"number": 2, "type": "ADT^A08", "findings": [
        {"severity": "warning", "code": 103, "location": "PID-8", "segment": 2, "field": "8"}]}),
    ("pos=2", {"number": 3, "bad": "'utf-8' codec can't decode byte 0xff in position 51: "
                                   "invalid start byte"}),
    ("pos=9", {"error": "pos must be between 0 and 3, not 9"}),
    ("pos=0&filter=MSH-9-2+%3D+Z", {"error": "no message meets the filter"}),
])
def test_one_message(view_server, query, expected):
    _, data = get(view_server.url + "api/message?" + query)
    if "findings" in expected:  # the texts as validation words them
        message = vellomar.parse(VIEW_MESSAGES[1].decode())
        texts = [finding.pop("text") for finding in data["findings"]]
        assert texts == [finding.text for finding in vellomar.validate(message)]
    assert {key: data[key] for key in expected} == expected
    if "findings" in expected:
        pid = data["segments"][2]
        assert (pid["path"], pid["name"]) == ("PID", describe(message, "PID")["name"])
        name = pid["fields"][2]
        assert (name["path"], name["value"], [c["value"] for c in name["children"]]) == (
            "PID-5", "SMITH^ANN", ["SMITH", "ANN"])
        assert name["name"] == describe(message, "PID-5")["name"]
        assert data["structure"]["children"][:2] == [{"segment": 0, "expected": True},
                                                     {"segment": 1, "expected": True}]
        assert data["raw"][2][:3] == [["PID", None], ["|", None], ["1", "1"]]
        assert data["fhir"] == vellomar.fhir.to_dict(message)  # the FHIR tab's bundle


def test_raw_pieces_rebuild_the_text_and_hold_every_element():
    # Repetitions, components, sub-components, escapes and empty elements.
    text = ("MSH|^~\\&|S||||20240101||ADT^A01|1|P|2.5\r"
            "PID|1||A~B^C&D||\\F\\^^x&&y|\rZZZ|")
    message = vellomar.parse(text)
    data = detail(message)
    for line, pieces in zip(text.split("\r"), data["raw"]):
        assert "".join(piece[0] for piece in pieces) == line
    keys = {piece[1] for piece in data["raw"][1]}
    assert keys == {None, "1", "2", "3(0)", "3(1)-1", "3(1)-2-1", "3(1)-2-2", "4", "5-1", "5-2",
                    "5-3-1", "5-3-2", "5-3-3", "6"}
    leaves = []

    def walk(element):
        leaves.extend([element["key"]] if not element["children"] else [])
        for child in element["children"]:
            walk(child)

    for field in data["segments"][1]["fields"]:
        walk(field)
    assert set(leaves) <= keys
    assert [piece for piece in data["raw"][1] if piece[1] == "5-1"] == [["\\F\\", "5-1"]]


@pytest.mark.parametrize(("argv", "status", "err"), [
    (["view", "-"], 2, "vellomar view: error: view reads its files again as the page asks: "
                       "give files, not '-'\n"),
    (["view", "missing.hl7"], 1, "vellomar: missing.hl7: No such file or directory\n"
                                 "vellomar: no messages to show\n"),
])
def test_view_refuses(argv, status, err, capsys, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    assert main(argv) == status
    assert capsys.readouterr().err.endswith(err)


def test_view_prints_its_address_first_and_stops_on_ctrl_c(tmp_path):
    path = tmp_path / "a.hl7"
    path.write_bytes(b"".join(VIEW_MESSAGES))
    process = subprocess.Popen([sys.executable, "-m", "vellomar", "view", "--no-browser", str(path)],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        url = process.stdout.readline().strip()
        assert url.startswith("http://127.0.0.1:") and url.endswith("/")
        assert process.stdout.readline() == "4 messages in 1 file; Ctrl-C stops the server\n"
        assert get(url + "api/info")[1]["total"] == 4
        process.send_signal(signal.SIGINT)
        assert process.wait(30) == 0
    finally:
        process.kill()
        process.communicate()


def test_a_file_cut_short_after_indexing_names_the_message(view_server):
    path = view_server.archive.files[0].name
    with open(path, "r+b") as file:
        file.truncate(sum(map(len, VIEW_MESSAGES[:3])) + 3)
    _, data = get(view_server.url + "api/message?pos=3")
    assert (data["number"], data["bad"]) == (4, "the file has changed since it was opened")
