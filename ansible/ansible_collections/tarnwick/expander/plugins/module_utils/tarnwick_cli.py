# -*- coding: utf-8 -*-
# What the modules of tarnwick.expander make of tarnwick-cli's output: the
# command lines they run, and the mapping of its JSON lines (--json: one
# object per line, the last a "result" for one port or a "summary" for
# several) to a task result. Plain Python with no Ansible import, so that a
# unit test can call every function on captured output.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json

# Exit codes of tarnwick-cli that the mapping must tell apart.
EXIT_SUCCESS = 0
EXIT_BOOTLOADER = 8

# The settings options of tarnwick-cli download: module option -> flag.
SETTING_OPTIONS = (
    ('config', '--config'),
    ('signature', '--signature'),
    ('dlretry', '--dlretry'),
    ('dlstartdelay', '--dlstartdelay'),
    ('dlnormaldelay', '--dlnormaldelay'),
    ('fwattempts', '--fwattempts'),
    ('writecmd', '--writecmd'),
    ('linewaittime', '--linewaittime'),
    ('charwaittime', '--charwaittime'),
    ('log', '--log'),
)

# Options that apply to info and probe as well.
FILE_OPTIONS = ('config', 'signature')

BOOTLOADER_ADVICE = ('the new firmware runs but its bootloader is not written: do NOT power '
                     'cycle this system, run the download again')


def as_list(ports):
    """A port given as one string or as a list, as a list (None: [])."""
    if ports is None:
        return []
    if isinstance(ports, (list, tuple)):
        return [str(p) for p in ports]
    return [str(ports)]


def setting_args(params, names=None):
    """The settings flags for the options set in `params` (None: not set)."""
    args = []
    for name, flag in SETTING_OPTIONS:
        if names is not None and name not in names:
            continue
        value = params.get(name)
        if value is None:
            continue
        args += [flag, str(value)]
    return args


def download_command(cli, params):
    """tarnwick-cli download for every port of `params`, with --json."""
    args = [cli, 'download', '--file', params['file'], '--json']
    for port in as_list(params.get('port')):
        args += ['--port', port]
    if params.get('skip_if_current'):
        args.append('--skip-if-current')
    if params.get('sha256'):
        args += ['--sha256', params['sha256']]
    return args + setting_args(params)


def info_command(cli, params):
    return [cli, 'info', params['file'], '--json'] + setting_args(params, FILE_OPTIONS)


def probe_command(cli, port, params):
    """probe --json on `port`; for "" the port of the config option."""
    args = [cli, 'probe'] + (['--port', port] if port else []) + ['--json']
    return args + setting_args(params, ('config',))


def probe_ports(params):
    """The ports check mode and the info module ask: those given, else the
    config file's (named "")."""
    ports = as_list(params.get('port'))
    if ports:
        return ports
    return [''] if params.get('config') else []


def json_lines(stdout):
    """The JSON objects of `stdout`, in order; lines that are none are left out."""
    events = []
    for line in (stdout or '').splitlines():
        line = line.strip()
        if not line.startswith('{'):
            continue
        try:
            event = json.loads(line)
        except ValueError:
            continue
        if isinstance(event, dict):
            events.append(event)
    return events


def parse_version(text):
    """"1.02.0000.10" as a tuple of four numbers; None if it is not one."""
    if not text:
        return None
    parts = str(text).lstrip('v').split('.')
    if len(parts) != 4:
        return None
    try:
        return tuple(int(p) for p in parts)
    except ValueError:
        return None


def writes_defaults(running):
    """Whether a download over `running` (a version text) also writes the
    factory defaults: unless major >= 1 and minor >= 2, each field on its own
    (2.01 still gets them). An unknown version counts as getting them."""
    version = parse_version(running)
    if version is None:
        return True
    return not (version[0] >= 1 and version[1] >= 2)


def _port_entry(source, port=None):
    entry = {
        'port': source.get('port', port),
        'exit_code': source.get('exit_code'),
        'outcome': source.get('outcome'),
        'message': source.get('message', ''),
        'written': source.get('written'),
        'version_before': source.get('version_before'),
        'version_after': source.get('version_after'),
        'file_version': source.get('file_version'),
    }
    if 'seconds' in source:
        entry['seconds'] = source['seconds']
    return entry


def map_download(rc, stdout, stderr='', ports=None):
    """The task result of a tarnwick-cli download --json run.

    changed: some port was written to (written is not "nothing"); failed: the
    exit code is not 0 or there is no result line. A failed bootloader (8) on
    any port says not to power cycle. Returns a dict with changed, failed, rc,
    msg, outcome and ports (one entry per port)."""
    ports = as_list(ports)
    events = json_lines(stdout)
    last = events[-1] if events else None
    if last is None or last.get('event') not in ('result', 'summary'):
        text = (stderr or '').strip() or (stdout or '').strip() or 'no output'
        return {
            'changed': False,
            'failed': True,
            'rc': rc,
            'outcome': 'no-result',
            'msg': 'tarnwick-cli ended (exit %s) without a result line: %s' % (rc, text),
            'ports': [],
        }
    if last.get('event') == 'summary':
        entries = [_port_entry(p) for p in last.get('ports', [])]
    else:
        entries = [_port_entry(last, ports[0] if ports else None)]
    # The process's own code wins over the line's, unless it says success
    # where the line does not.
    line_code = last.get('exit_code')
    code = rc if rc not in (None, EXIT_SUCCESS) or line_code is None else line_code
    changed = any(e['written'] not in (None, 'nothing') for e in entries)
    failed = code != EXIT_SUCCESS
    result = {
        'changed': changed,
        'failed': failed,
        'rc': code,
        'outcome': last.get('outcome'),
        'ports': entries,
    }
    bootloader = [e['port'] for e in entries if e['exit_code'] == EXIT_BOOTLOADER]
    if bootloader or code == EXIT_BOOTLOADER:
        names = ', '.join(p for p in bootloader if p) or 'the expander'
        result['msg'] = 'Bootloader failed on %s: %s.' % (names, BOOTLOADER_ADVICE)
    elif failed:
        bad = [e for e in entries if e['exit_code'] not in (EXIT_SUCCESS, None)] or entries
        result['msg'] = '; '.join(
            '%s: %s (exit %s)' % (e['port'], e['message'] or e['outcome'], e['exit_code'])
            if e['port'] else '%s (exit %s)' % (e['message'] or e['outcome'], e['exit_code'])
            for e in bad)
        if last.get('event') == 'summary' and last.get('message'):
            result['msg'] = last['message'] + ' ' + result['msg']
    elif len(entries) == 1:
        result['msg'] = entries[0]['message'] or entries[0]['outcome']
    else:
        current = sum(1 for e in entries if e['outcome'] == 'already-current')
        result['msg'] = '%d ports: %d written, %d already current' % (
            len(entries), len(entries) - current, current)
    return result


def probe_version(rc, stdout):
    """(version text or None, the probe's result event or None) of a probe --json run."""
    version = None
    result = None
    for event in json_lines(stdout):
        if event.get('event') == 'version':
            version = event.get('version')
        elif event.get('event') == 'result':
            result = event
    return version, result


def plan_download(table, probes, skip_if_current=True, sha256=None):
    """What a download would do, for check mode: `table` is info --json's
    object, `probes` maps each port to its (rc, stdout) of probe --json.

    A port downloads unless skip_if_current and its running version equals
    the file's version record (a file without one is always downloaded).
    Each port's entry says the path the download would take and whether the
    factory defaults would be written. failed: a port that cannot be probed,
    or a file whose digest is not `sha256`."""
    path = table.get('path')
    file_version = table.get('version')
    entries = []
    problems = []
    codes = []
    if sha256 and str(table.get('sha256', '')).lower() != str(sha256).lower():
        # As download --sha256 refuses it: bad input, nothing sent.
        codes.append(2)
        problems.append('the SHA-256 of %s is %s, not %s' % (table.get('file'), table.get('sha256'),
                                                              str(sha256).lower()))
    for port, (rc, stdout) in probes.items():
        version, result = probe_version(rc, stdout)
        entry = {
            'port': port,
            'version_before': version,
            'file_version': file_version,
            'path': path,
        }
        if rc != EXIT_SUCCESS or version is None:
            outcome = (result or {}).get('outcome', 'no-result')
            message = (result or {}).get('message', 'the probe gave no version')
            entry.update({'outcome': outcome, 'exit_code': rc, 'message': message,
                          'would_download': False, 'factory_defaults': False})
            codes.append(rc if rc else 1)
            problems.append('%s: %s (exit %s)' % (port, message, rc))
            entries.append(entry)
            continue
        current = (skip_if_current and file_version is not None
                   and parse_version(version) == parse_version(file_version))
        entry.update({
            'outcome': 'already-current' if current else 'would-download',
            'exit_code': EXIT_SUCCESS,
            'message': ('Firmware v%s runs already; nothing would be sent.' % version if current
                        else 'Would download %s over v%s (%s path).' % (
                            file_version or 'a file without a version record', version, path)),
            'would_download': not current,
            'factory_defaults': (not current) and writes_defaults(version),
        })
        entries.append(entry)
    changed = any(e['would_download'] for e in entries)
    if problems:
        msg = '; '.join(problems)
    else:
        msg = '%d port(s): %d would be written, %d already current' % (
            len(entries), sum(1 for e in entries if e['would_download']),
            sum(1 for e in entries if not e['would_download']))
    return {
        'changed': changed,
        'failed': bool(problems),
        'rc': codes[0] if codes else EXIT_SUCCESS,
        'msg': msg,
        'outcome': 'check' if not problems else 'check-failed',
        'ports': entries,
    }
