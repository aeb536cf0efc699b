"""A build backend (PEP 517) for the hushmask package, from the standard
library alone: the package is pure Python, so a wheel is the package's
files, its metadata and their record.  It lets `pip install ./python` work
on a machine that reaches no package index."""

import base64
import hashlib
import pathlib
import re
import zipfile

_ROOT = pathlib.Path(__file__).resolve().parent.parent
_NAME = "hushmask"
_TAG = "py3-none-any"


def _project():
    text = (_ROOT / "pyproject.toml").read_text(encoding="utf-8")
    fields = dict(re.findall(r'^(version|description|requires-python) = "([^"]*)"', text, re.M))
    return fields["version"], fields["description"], fields["requires-python"]


def _metadata():
    version, description, requires_python = _project()
    readme = (_ROOT / "README.md").read_text(encoding="utf-8")
    return version, ("Metadata-Version: 2.1\nName: %s\nVersion: %s\nSummary: %s\nLicense: MIT\n"
                     "Requires-Python: %s\nDescription-Content-Type: text/markdown\n\n%s"
                     % (_NAME, version, description, requires_python, readme))


def _files():
    for path in sorted((_ROOT / _NAME).rglob("*.py")):
        yield path.relative_to(_ROOT).as_posix(), path.read_bytes()


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return "%s,sha256=%s,%d" % (name, digest, len(data))


def get_requires_for_build_wheel(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    version, metadata = _metadata()
    dist_info = "%s-%s.dist-info" % (_NAME, version)
    wheel_name = "%s-%s-%s.whl" % (_NAME, version, _TAG)
    entries = list(_files())
    entries.append((dist_info + "/METADATA", metadata.encode("utf-8")))
    entries.append((dist_info + "/WHEEL", ("Wheel-Version: 1.0\nGenerator: hushmask_build\n"
                                           "Root-Is-Purelib: true\nTag: %s\n" % _TAG).encode()))
    record = [_record_line(name, data) for name, data in entries]
    record.append(dist_info + "/RECORD,,")
    entries.append((dist_info + "/RECORD", ("\n".join(record) + "\n").encode()))
    with zipfile.ZipFile(pathlib.Path(wheel_directory) / wheel_name, "w", zipfile.ZIP_DEFLATED) as wheel:
        for name, data in entries:
            wheel.writestr(zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0)), data,
                           zipfile.ZIP_DEFLATED)
    return wheel_name
