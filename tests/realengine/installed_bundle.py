"""Installs the bundle to a temporary prefix and downloads a file with the installed kestro-dl
and its engine. Nothing of the installed bundle may point into the source or build tree, so
that it keeps working once they are gone.

    installed_bundle.py BUILD_DIR SOURCE_DIR
Exits 77 (skipped) when the build's bundle has no engine."""
import functools
import http.server
import os
import subprocess
import sys
import tempfile
import threading

SKIPPED = 77


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def serve(folder):
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), functools.partial(QuietHandler, directory=folder))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def main(build, source):
    if not os.access(os.path.join(build, 'brisvane-download/Contents/Helpers/yt-dlp'), os.X_OK):
        print('the build has no engine (scripts/bootstrap could not get one); skipped')
        return SKIPPED
    trees = [os.path.realpath(build), os.path.realpath(source)]
    with tempfile.TemporaryDirectory() as root:
        prefix = os.path.join(root, 'prefix')
        subprocess.run(['cmake', '--install', build, '--prefix', prefix], check=True, stdout=subprocess.DEVNULL)
        bundle = os.path.join(prefix, 'brisvane-download')

        inside = []
        for folder, dirs, files in os.walk(bundle):
            for name in dirs + files:
                path = os.path.join(folder, name)
                if os.path.islink(path):
                    target = os.path.realpath(path)
                    if any(target == tree or target.startswith(tree + os.sep) for tree in trees):
                        inside.append(f'{path} -> {target}')
        if inside:
            print('links into the build or source tree:\n' + '\n'.join(inside))
            return 1
        for name in ('yt-dlp', 'deno'):
            path = os.path.join(bundle, 'Contents/Helpers', name)
            if os.path.islink(path) or not os.access(path, os.X_OK):
                print(f'{path} is not a program of its own')
                return 1

        media = os.path.join(root, 'media')
        os.mkdir(media)
        subprocess.run(['ffmpeg', '-hide_banner', '-loglevel', 'error', '-f', 'lavfi', '-i',
                        'testsrc=duration=1:size=160x120:rate=10', '-c:v', 'libx264', '-preset', 'ultrafast',
                        '-pix_fmt', 'yuv420p', os.path.join(media, 'sample.mp4')], check=True)
        server = serve(media)
        out = os.path.join(root, 'out')
        home = os.path.join(root, 'home')
        env = {'HOME': home, 'XDG_CONFIG_HOME': os.path.join(home, '.config'),
               'XDG_DATA_HOME': os.path.join(home, '.local/share'), 'XDG_CACHE_HOME': os.path.join(home, '.cache'),
               'XDG_RUNTIME_DIR': root, 'TMPDIR': root, 'PATH': '/usr/bin:/bin', 'LANG': 'C.UTF-8',
               'QT_QPA_PLATFORM': 'offscreen'}
        for name in ('ASAN_OPTIONS', 'UBSAN_OPTIONS', 'LSAN_OPTIONS'):
            if name in os.environ:
                env[name] = os.environ[name]
        url = 'http://127.0.0.1:%d/sample.mp4' % server.server_address[1]
        run = subprocess.run([os.path.join(bundle, 'Contents/Helpers/kestro-dl'), '--dir', out, url],
                             env=env, capture_output=True, text=True, timeout=600, cwd=root)
        server.shutdown()
        print(run.stdout + run.stderr)
        if run.returncode != 0:
            print(f'kestro-dl exited {run.returncode}')
            return 1
        # The engine rewrites the container (metadata), so compare what it holds.
        probe = subprocess.run(['ffprobe', '-v', 'error', '-show_entries', 'stream=codec_type', '-of', 'csv=p=0',
                                os.path.join(out, 'sample.mp4')], capture_output=True, text=True)
        if probe.returncode != 0 or probe.stdout.split() != ['video']:
            print('the downloaded file is not the served video: ' + probe.stdout + probe.stderr)
            return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1], sys.argv[2]))
