"""Packs an unpacked yt_dlp package into one executable zip application.

    pack-engine.py SITE_PACKAGES OUTPUT

Every module is stored with its bytecode beside it (the layout zipimport reads); without it
each engine start would compile the whole package again. The bytecode is hash-based and
unchecked, so the zip's own timestamps never make Python ignore it.
"""
import os
import py_compile
import sys
import tempfile
import zipfile

MAIN = b'''import sys
from yt_dlp import main
if __name__ == "__main__":
    sys.argv[0] = "yt-dlp"
    sys.exit(main())
'''


def compiled(source, name):
    with tempfile.TemporaryDirectory() as folder:
        target = os.path.join(folder, 'module.pyc')
        py_compile.compile(source, cfile=target, dfile=name, doraise=True,
                           invalidation_mode=py_compile.PycInvalidationMode.UNCHECKED_HASH)
        with open(target, 'rb') as file:
            return file.read()


def main(site_packages, output):
    package = os.path.join(site_packages, 'yt_dlp')
    if not os.path.isfile(os.path.join(package, '__init__.py')):
        sys.exit(f'pack-engine: {package} holds no yt_dlp package')
    partial = output + '.partial'
    with open(partial, 'wb') as raw:
        raw.write(b'#!/usr/bin/python3\n')
        with zipfile.ZipFile(raw, 'w', zipfile.ZIP_DEFLATED) as archive:
            archive.writestr('__main__.py', MAIN)
            for folder, dirs, files in os.walk(package):
                dirs[:] = sorted(d for d in dirs if d != '__pycache__')
                for name in sorted(files):
                    path = os.path.join(folder, name)
                    inner = os.path.relpath(path, site_packages)
                    if name.endswith('.pyc'):
                        continue
                    archive.write(path, inner)
                    if name.endswith('.py'):
                        archive.writestr(inner + 'c', compiled(path, inner))
        raw.flush()
        os.fsync(raw.fileno())
    os.chmod(partial, 0o755)
    os.replace(partial, output)


if __name__ == '__main__':
    if len(sys.argv) != 3:
        sys.exit('usage: pack-engine.py SITE_PACKAGES OUTPUT')
    main(sys.argv[1], sys.argv[2])
