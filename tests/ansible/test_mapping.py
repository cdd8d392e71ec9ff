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
             lines(start, result(6, 'download-failed', 'partly')), True, True, 6, 'm-download'),
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
            ('no result line: the process died', -9, '{"event": "start"}\n', False, True, -9,
             'without a result line'),
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


def probe_out(version=None, code=0, outcome='success'):
    events = [{'event': 'start', 'command': 'probe'}]
    if version:
        events.append({'event': 'version', 'version': version})
    events.append(result(code, outcome))
    return lines(*events)


class PlanDownloadTest(unittest.TestCase):
    TABLE = {'file': 'fw.bin', 'sha256': 'ab' * 32, 'version': '1.02.0000.11', 'path': 'rebooting',
             'images': []}

    def test_factory_defaults_rule_field_by_field(self):
        for version, defaults in [('1.02.0000.10', False), ('1.01.0000.99', True),
                                  ('2.01.0000.00', True), ('0.05.0000.00', True),
                                  ('3.04.0000.00', False), (None, True), ('junk', True)]:
            with self.subTest(version):
                self.assertEqual(defaults, t.writes_defaults(version))

    def test_each_port_says_what_it_would_do(self):
        probes = {
            'old': (0, probe_out('1.01.0000.05')),
            'current': (0, probe_out('1.02.0000.11')),
            'newer-minor': (0, probe_out('1.03.0000.00')),
        }
        r = t.plan_download(self.TABLE, probes, skip_if_current=True)
        self.assertTrue(r['changed'])
        self.assertFalse(r['failed'])
        by = {e['port']: e for e in r['ports']}
        self.assertEqual((True, True, 'would-download'),
                         (by['old']['would_download'], by['old']['factory_defaults'],
                          by['old']['outcome']))
        self.assertEqual((False, False, 'already-current'),
                         (by['current']['would_download'], by['current']['factory_defaults'],
                          by['current']['outcome']))
        self.assertEqual((True, False), (by['newer-minor']['would_download'],
                                         by['newer-minor']['factory_defaults']))
        self.assertEqual('rebooting', by['old']['path'])
        self.assertEqual('1.01.0000.05', by['old']['version_before'])

    def test_unchanged_only_when_every_port_is_current(self):
        probes = {'a': (0, probe_out('1.02.0000.11')), 'b': (0, probe_out('1.02.0000.11'))}
        self.assertFalse(t.plan_download(self.TABLE, probes)['changed'])
        # Without skip_if_current every port is written; so is a file without a record.
        self.assertTrue(t.plan_download(self.TABLE, probes, skip_if_current=False)['changed'])
        bare = dict(self.TABLE, version=None)
        self.assertTrue(t.plan_download(bare, probes)['changed'])

    def test_what_a_real_run_would_refuse_fails(self):
        cases = [
            ('silent port', {'a': (4, probe_out(None, 4, 'device-not-found'))}, None, 4),
            ('no output', {'a': (0, '')}, None, 1),
            ('wrong digest', {'a': (0, probe_out('1.00.0000.10'))}, 'cd' * 32, 2),
        ]
        for name, probes, digest, rc in cases:
            with self.subTest(name):
                r = t.plan_download(self.TABLE, probes, sha256=digest)
                self.assertTrue(r['failed'])
                self.assertEqual(rc, r['rc'])
        # The digest in capitals is the same digest.
        ok = t.plan_download(self.TABLE, {'a': (0, probe_out('1.00.0000.10'))}, sha256='AB' * 32)
        self.assertFalse(ok['failed'])


if __name__ == '__main__':
    unittest.main()
