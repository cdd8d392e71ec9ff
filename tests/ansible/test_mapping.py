# The Ansible collection's reading of tarnwick-cli's JSON lines: what makes a
# task changed, failed, and what it tells per port. Plain unittest, no
# Ansible needed:  python3 -m unittest discover -s tests/ansible
import json
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', '..', 'ansible', 'ansible_collections', 'tarnwick',
                                'expander', 'plugins', 'module_utils'))

import tarnwick_cli as t  # noqa: E402


def lines(*events):
    return '\n'.join(json.dumps(e) for e in events) + '\n'


def result(code, outcome, written=None, **extra):
    e = {'event': 'result', 'port': '/dev/ttyUSB0', 't': 1.0, 'ok': code == 0,
         'exit_code': code, 'outcome': outcome, 'message': 'm-%s' % outcome}
    if written is not None:
        e['written'] = written
    e.update(extra)
    return e


def port(name, code, outcome, written=None, **extra):
    e = {'port': name, 'exit_code': code, 'outcome': outcome, 'seconds': 1.0,
         'message': 'm-%s' % outcome}
    if written is not None:
        e['written'] = written
    e.update(extra)
    return e


def status(text):
    return {'event': 'status', 'port': '/dev/ttyUSB0', 'text': text}


def progress():
    return {'event': 'progress', 'port': '/dev/ttyUSB0', 'percent': 40}


def summary(code, outcome, *ports, **extra):
    e = {'event': 'summary', 'ok': code == 0, 'exit_code': code, 'outcome': outcome,
         'ports': list(ports)}
    e.update(extra)
    return e


class MapDownloadTest(unittest.TestCase):
    def test_outcomes(self):
        start = {'event': 'start', 'command': 'download', 'file': 'fw.bin'}
        cases = [
            # name, rc, stdout, changed, failed, rc wanted, text in msg
            ('written', 0, lines(start, result(0, 'success', 'all', version_before='1.02.0000.10')),
             True, False, 0, 'm-success'),
            ('already current', 0, lines(start, result(0, 'already-current', 'nothing')),
             False, False, 0, 'm-already-current'),
            ('failed, nothing written', 4, lines(start, result(4, 'device-not-found', 'nothing')),
             False, True, 4, 'exit 4'),
            ('failed part way: changed, so the handler for a power cycle can run', 6,
             lines(start, result(6, 'download-failed', 'partly')), True, True, 6,
             'Power cycle the system, then run the download again.'),
            ('bootloader: never power cycle', 8, lines(result(8, 'bootloader-failed', 'partly')),
             True, True, 8, 'do NOT power cycle'),
            ('refused before the start', 2, lines(result(2, 'bad-input', 'nothing')),
             False, True, 2, 'm-bad-input'),
            ('several, one current', 0,
             lines(summary(0, 'success', port('a', 0, 'success', 'all'),
                           port('b', 0, 'already-current', 'nothing'))),
             True, False, 0, '2 ports: 1 written, 1 already current'),
            ('several, all current', 0,
             lines(summary(0, 'already-current', port('a', 0, 'already-current', 'nothing'),
                           port('b', 0, 'already-current', 'nothing'))),
             False, False, 0, '0 written, 2 already current'),
            ('several, a bootloader among them', 8,
             lines(summary(8, 'bootloader-failed', port('a', 6, 'download-failed', 'partly'),
                           port('b', 8, 'bootloader-failed', 'partly'))),
             True, True, 8, 'Bootloader failed on b'),
            ('several, refused: ports not started have no written', 3,
             lines(summary(3, 'cannot-open-port', port('a', 3, 'cannot-open-port'),
                           port('b', 7, 'stopped'), message='there is no serial port')),
             False, True, 3, 'there is no serial port'),
            # Killed part way: changed, with the last status and what it implies.
            ('killed in the bootloader', -9,
             lines(start, status('Downloading firmware image, please wait...'), progress(),
                   status('Downloading bootloader image, do not power cycle the SAS '
                          'Expander, please wait...'), status('')),
             True, True, -9, 'do NOT power cycle'),
            ('killed during the firmware', 137,
             lines(start, status('Downloading firmware image(retry #2), please wait...')),
             True, True, 137, 'half-written: power cycle the system, then run the download again'),
            ('killed before any status', -15, lines(start), True, True, -15, 'not known'),
            ('killed while the defaults were written', -9,
             lines(start, progress(), status('Setting firmware defaults, please wait...')),
             True, True, -9, 'factory defaults may not be'),
            ('no output at all', 1, '', False, True, 1, 'without a result line'),
            # A line that says success while the process did not: the process wins.
            ('exit code disagrees', 1, lines(result(0, 'success', 'all')), True, True, 1, ''),
        ]
        for name, rc, out, changed, failed, want_rc, says in cases:
            with self.subTest(name):
                r = t.map_download(rc, out, 'stderr text', ['/dev/ttyUSB0'])
                self.assertEqual(changed, r['changed'])
                self.assertEqual(failed, r['failed'])
                self.assertEqual(want_rc, r['rc'])
                self.assertIn(says, r['msg'])

    def test_per_port_versions(self):
        out = lines(summary(0, 'success',
                            port('a', 0, 'success', 'all', version_before='1.01.0000.05',
                                 file_version='1.02.0000.11'),
                            port('b', 0, 'already-current', 'nothing',
                                 version_before='1.02.0000.11', version_after='1.02.0000.11')))
        r = t.map_download(0, out, '', ['a', 'b'])
        a, b = r['ports']
        self.assertEqual(('a', 0, 'success'), (a['port'], a['exit_code'], a['outcome']))
        self.assertEqual('1.01.0000.05', a['version_before'])
        self.assertIsNone(a['version_after'])
        self.assertEqual('1.02.0000.11', b['version_after'])

    def test_one_port_entry_is_named_by_the_port_given(self):
        e = result(0, 'success', 'all')
        del e['port']
        r = t.map_download(0, lines(e), '', '/dev/ttyS0')
        self.assertEqual('/dev/ttyS0', r['ports'][0]['port'])


    def test_msg_lines(self):
        # What the task's msg says, line by line.
        ran = {'version_before': '1.02.0000.10', 'file_version': '1.02.0000.11'}
        held = 'Not started: another port of this run could not be used, nothing was sent.'
        not_started = ('Nothing was sent to it: mend the port that was refused, then run the '
                       'task again.')
        cases = [
            ('one line per port, after the counts', 0,
             summary(0, 'success', port('a', 0, 'success', 'all', **ran),
                     port('b', 0, 'already-current', 'nothing', version_before='1.02.0000.11',
                          version_after='1.02.0000.11')),
             ['2 ports: 1 written, 1 already current.',
              'a: success (running 1.02.0000.10, file 1.02.0000.11). m-success.',
              'b: already current (runs 1.02.0000.11). m-already-current.']),
            # A mistyped port refuses the run: the good port was never started.
            ('a refused port holds the others back', 3,
             summary(3, 'cannot-open-port',
                     port('sim-a', 7, 'stopped', 'nothing', message=held),
                     port('/dev/ttyUSB7', 3, 'cannot-open-port', 'nothing',
                          message='there is no serial port /dev/ttyUSB7'),
                     message='there is no serial port /dev/ttyUSB7'),
             ['sim-a: not started (exit 7). ' + not_started,
              '/dev/ttyUSB7: cannot open port (exit 3). there is no serial port /dev/ttyUSB7.']),
            ('held back after the open, the refusal is its own line', 4,
             summary(4, 'device-not-found', port('a', 4, 'device-not-found', 'nothing'),
                     port('b', 7, 'stopped', 'nothing', version_before='1.02.0000.10',
                          message=held), message='the run was refused'),
             ['the run was refused.', 'a: device not found (exit 4). m-device-not-found.',
              'b: not started (exit 7, running 1.02.0000.10). ' + not_started]),
            # Stopped by a signal, every port ends 7 itself: stopped it is.
            ('a stop stays a stop', 7,
             summary(7, 'stopped', port('a', 7, 'stopped', 'nothing'),
                     port('b', 7, 'stopped', 'nothing')),
             ['a: stopped (exit 7). m-stopped.', 'b: stopped (exit 7). m-stopped.']),
            # The advice of exit 6 is the module's, whatever the line says.
            ('exit 6 asks for a power cycle', 6,
             result(6, 'download-failed', 'partly', message='Check the file, then run it again.',
                    **ran),
             ['/dev/ttyUSB0: download failed (exit 6, running 1.02.0000.10, file 1.02.0000.11). '
              'Power cycle the system, then run the download again.']),
            ('a bootloader among several comes first', 8,
             summary(8, 'bootloader-failed', port('a', 0, 'success', 'all'),
                     port('b', 8, 'bootloader-failed', 'partly')),
             ['Bootloader failed on b: ' + t.BOOTLOADER_ADVICE + '.',
              'a: success. m-success.',
              'b: bootloader failed (exit 8). The new firmware runs but its bootloader is not '
              'written: do NOT power cycle this system, run the download again.']),
            # tarnwick-cli's flags as the task spells them.
            ('a wrong digest names the option sha256', 2,
             result(2, 'bad-input', 'nothing', message='Error, the SHA-256 of fw.bin is 00, not '
                    '11 as --sha256 says; nothing was sent.'),
             ['/dev/ttyUSB0: bad input (exit 2). Error, the SHA-256 of fw.bin is 00, not 11 as '
              'the sha256 option says; nothing was sent.']),
            ('a malformed digest too, named once', 2,
             result(2, 'bad-input', 'nothing', message='--sha256: --sha256 wants 64 hex digits, '
                    'got 3'),
             ['/dev/ttyUSB0: bad input (exit 2). the sha256 option wants 64 hex digits, got 3.']),
        ]
        for name, rc, last, want in cases:
            with self.subTest(name):
                r = t.map_download(rc, lines(last), '', ['/dev/ttyUSB0'])
                self.assertEqual(want, r['msg'].split('\n'))

    def test_held_back_ports_are_not_started(self):
        out = lines(summary(3, 'cannot-open-port', port('a', 7, 'stopped', 'nothing'),
                            port('b', 3, 'cannot-open-port', 'nothing')))
        self.assertEqual(['not-started', 'cannot-open-port'],
                         [p['outcome'] for p in t.map_download(3, out)['ports']])
        # In check mode as well.
        r = t.map_plan(2, lines(summary(2, 'bad-input', port('a', 2, 'bad-input'),
                                        port('a', 7, 'stopped'))))
        self.assertEqual(['bad-input', 'not-started'], [p['outcome'] for p in r['ports']])


class AdviceTest(unittest.TestCase):
    """The advice of an exit code is one text: the module's msg, ansible-doc's
    notes and the collection's README say it in the same words."""

    def test_docs_use_the_modules_words(self):
        top = os.path.join(HERE, '..', '..', 'ansible', 'ansible_collections', 'tarnwick',
                           'expander')
        docs = {}
        for name in ('README.md', os.path.join('plugins', 'modules', 'firmware.py')):
            with open(os.path.join(top, name), encoding='utf-8') as f:
                docs[name] = ' '.join(f.read().split())
        for code, advice in sorted(t.EXIT_ADVICE.items()):
            for name, text in docs.items():
                with self.subTest(code=code, doc=name):
                    self.assertIn('rc %d: %s' % (code, advice), text)


class CommandTest(unittest.TestCase):
    def test_download_command(self):
        params = {'file': 'fw.bin', 'port': ['/dev/ttyUSB0', 'COM3'], 'skip_if_current': True,
                  'sha256': 'ab' * 32, 'dlretry': 5, 'config': None, 'fwattempts': 0}
        self.assertEqual(
            ['cli', 'download', '--file', 'fw.bin', '--json', '--port', '/dev/ttyUSB0', '--port',
             'COM3', '--skip-if-current', '--sha256', 'ab' * 32, '--dlretry', '5',
             '--fwattempts', '0'],
            t.download_command('cli', params))
        params.update(port='/dev/ttyS1', skip_if_current=False, sha256=None, dlretry=None)
        self.assertEqual(['cli', 'download', '--file', 'fw.bin', '--json', '--port', '/dev/ttyS1',
                          '--fwattempts', '0'], t.download_command('cli', params))
        # A downgrade only when the task allows it, in the run and in check mode.
        params.update(allow_older=True, fwattempts=None)
        self.assertEqual(['cli', 'download', '--file', 'fw.bin', '--json', '--port', '/dev/ttyS1',
                          '--allow-older'], t.download_command('cli', params))
        self.assertEqual(['cli', 'plan', '--file', 'fw.bin', '--json', '--port', '/dev/ttyS1',
                          '--allow-older'], t.plan_command('cli', params))

    def test_plan_command_takes_only_its_options(self):
        params = {'file': 'fw.bin', 'port': ['a', 'b'], 'skip_if_current': True, 'sha256': None,
                  'config': 'site.ini', 'dlretry': 3, 'signature': 'ABC'}
        self.assertEqual(['cli', 'plan', '--file', 'fw.bin', '--json', '--port', 'a', '--port', 'b',
                          '--skip-if-current', '--config', 'site.ini', '--signature', 'ABC'],
                         t.plan_command('cli', params))

    def test_info_and_probe_take_only_their_options(self):
        params = {'file': 'fw.bin', 'signature': 'ABC', 'config': 'site.ini', 'dlretry': 3}
        self.assertEqual(['cli', 'info', 'fw.bin', '--json', '--config', 'site.ini',
                          '--signature', 'ABC'], t.info_command('cli', params))
        self.assertEqual(['cli', 'probe', '--port', 'p', '--json', '--config', 'site.ini'],
                         t.probe_command('cli', 'p', params))
        # No port: the config file's, asked once; no config either: none.
        self.assertEqual([''], t.probe_ports(params))
        self.assertEqual(['cli', 'probe', '--json', '--config', 'site.ini'],
                         t.probe_command('cli', '', params))
        self.assertEqual([], t.probe_ports({'config': None}))
        self.assertEqual(['COM3'], t.probe_ports({'port': 'COM3', 'config': 'site.ini'}))


def plan(name, download, current, defaults=False, version='1.02.0000.10'):
    return {'event': 'plan', 'port': name, 'would_download': download, 'current': current,
            'path': 'rebooting', 'factory_defaults': defaults, 'version': version,
            'file_version': '1.02.0000.11'}


class MapPlanTest(unittest.TestCase):
    """Check mode maps tarnwick-cli plan's answers; it decides nothing itself."""

    def test_plans(self):
        would = dict(plan('a', True, 'bootloader-unknown'), event=None)
        cases = [
            # name, rc, stdout, changed, failed, rc wanted, text in msg
            ('one port would download', 0,
             lines(plan('/dev/ttyUSB0', True, 'version-differs', True),
                   result(0, 'would-download')), True, False, 0, '1 would be written'),
            ('one port current', 0,
             lines(plan('/dev/ttyUSB0', False, 'current'), result(0, 'already-current')),
             False, False, 0, '0 would be written, 1 already current'),
            ('many: the summary carries each plan', 0,
             lines(summary(0, 'success', dict(port('a', 0, 'would-download'), **would),
                           dict(port('b', 0, 'already-current'), would_download=False,
                                current='current'))),
             True, False, 0, '2 port(s): 1 would be written'),
            ('neither port nor config', 2, lines(result(2, 'bad-input', port=None)),
             False, True, 2, 'm-bad-input'),
            ('a port named twice', 2,
             lines(summary(2, 'bad-input', port('a', 2, 'bad-input'), port('a', 7, 'stopped'),
                           message='the same port is named twice')),
             False, True, 2, 'the same port is named twice'),
            ('a silent port fails the whole check', 4,
             lines(summary(4, 'device-not-found', port('a', 4, 'device-not-found'),
                           dict(port('b', 0, 'would-download'), **would))),
             True, True, 4, 'a: device not found (exit 4). m-device-not-found.'),
            # A plan sends nothing but the version question: killed, it wrote nothing.
            ('no result line', -9, lines(plan('a', True, 'version-differs')), False, True, -9,
             'without a result line'),
        ]
        for name, rc, out, changed, failed, want_rc, says in cases:
            with self.subTest(name):
                r = t.map_plan(rc, out, '', ['/dev/ttyUSB0'])
                self.assertEqual(changed, r['changed'])
                self.assertEqual(failed, r['failed'])
                self.assertEqual(want_rc, r['rc'])
                self.assertIn(says, r['msg'])

    def test_each_port_keeps_the_plan_fields(self):
        out = lines(plan('/dev/ttyUSB0', True, 'defaults-pending', True, '1.02.0000.11'),
                    result(0, 'would-download', version_before='1.02.0000.11'))
        e = t.map_plan(0, out, '', '/dev/ttyUSB0')['ports'][0]
        self.assertEqual(('/dev/ttyUSB0', True, 'defaults-pending', 'rebooting', True),
                         (e['port'], e['would_download'], e['current'], e['path'],
                          e['factory_defaults']))
        self.assertEqual('1.02.0000.11', e['version_before'])


if __name__ == '__main__':
    unittest.main()
