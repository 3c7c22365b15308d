"""Runs the bundle's yt-dlp with the session options and checks that it loads the plug-in
from the bundle's plug-in folder. Exits 77 (reported as skipped) when that yt-dlp is too old
to know "--plugin-dirs"."""
import json
import os
import subprocess
import sys
import tempfile

SKIPPED = 77


def main(ytdlp, plugins, support):
    try:
        usage = subprocess.run([ytdlp, '--help'], capture_output=True, text=True, timeout=120).stdout
    except OSError as error:
        print(f'{ytdlp} cannot run: {error}; skipped')
        return SKIPPED
    if '--plugin-dirs' not in usage:
        print(f'{ytdlp} does not know --plugin-dirs; skipped')
        return SKIPPED

    with tempfile.TemporaryDirectory() as folder:
        session = os.path.join(folder, 'headers.json')
        with open(session, 'w', encoding='utf-8') as file:
            json.dump({'cookies': [], 'requests': [
                {'url': 'https://video.example/watch', 'headers': {'Referer': 'https://video.example/'}}]}, file)
        info = os.path.join(folder, 'clip.info.json')
        with open(info, 'w', encoding='utf-8') as file:
            json.dump({'id': 'clip', 'title': 'clip', 'ext': 'mp4', 'url': 'https://video.example/clip.mp4',
                       'webpage_url': 'https://video.example/watch', 'extractor': 'generic',
                       'extractor_key': 'Generic'}, file)
        command = [ytdlp, '--ignore-config', '--no-plugin-dirs', '--plugin-dirs', plugins,
                   '--use-postprocessor', 'KestroSessionGuard', '--verbose', '--simulate',
                   '--load-info-json', info]
        env = dict(os.environ, KESTRO_SESSION_FILE=session)
        run = subprocess.run(command, env=env, capture_output=True, text=True, timeout=300)
        if "No module named 'curl_cffi'" in run.stdout + run.stderr:
            # This engine's runtime lacks the HTTP client; the scripted stand-in takes its place.
            env['PYTHONPATH'] = os.pathsep.join(filter(None, [support, env.get('PYTHONPATH')]))
            run = subprocess.run(command, env=env, capture_output=True, text=True, timeout=300)
    output = run.stdout + run.stderr
    print(output)
    if run.returncode != 0:
        print(f'yt-dlp failed with status {run.returncode}')
        return 1
    if 'KestroSessionGuard' not in output or plugins.rstrip('/') not in output:
        print('yt-dlp did not report the plug-in from the bundle')
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(*sys.argv[1:4]))
