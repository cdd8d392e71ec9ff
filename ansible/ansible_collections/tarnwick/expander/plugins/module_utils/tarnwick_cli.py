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


def _file_and_ports(cli, command, params):
    """tarnwick-cli COMMAND for every port of `params`, with --json: the
    part download and plan share."""
    args = [cli, command, '--file', params['file'], '--json']
    for port in as_list(params.get('port')):
        args += ['--port', port]
    if params.get('skip_if_current'):
        args.append('--skip-if-current')
    if params.get('sha256'):
        args += ['--sha256', params['sha256']]
    return args


def download_command(cli, params):
    """tarnwick-cli download for every port of `params`, with --json."""
    return _file_and_ports(cli, 'download', params) + setting_args(params)


# The options tarnwick-cli plan takes besides --port, --file and --sha256.
PLAN_OPTIONS = ('config', 'signature', 'log')


def plan_command(cli, params):
    """tarnwick-cli plan for every port of `params`, with --json: what the
    download of download_command would do, asking only the versions."""
    return _file_and_ports(cli, 'plan', params) + setting_args(params, PLAN_OPTIONS)


def info_command(cli, params):
    return [cli, 'info', params['file'], '--json'] + setting_args(params, FILE_OPTIONS)


def probe_command(cli, port, params):
    """probe --json on `port`; for "" the port of the config option."""
    args = [cli, 'probe'] + (['--port', port] if port else []) + ['--json']
    return args + setting_args(params, ('config',))


def probe_ports(params):
    """The ports the info module asks: those given, else the config file's
    (named "")."""
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


# What a tarnwick-cli that ended without its result line (killed by a
# signal, out of memory, an async time-out) leaves a port in, by the last
# step its status lines named: (words of the status text, advice).
KILLED_ADVICE = (
    ('bootloader', 'it was writing the bootloader: do NOT power cycle this system, run the '
                   'download again'),
    ('factory defaults', 'the firmware was written, the factory defaults may not be: run the '
                         'download again with skip_if_current false before the power cycle'),
    ('firmware defaults', 'the firmware was written, the factory defaults may not be: run the '
                          'download again with skip_if_current false before the power cycle'),
    ('rebooting', 'the firmware may be half-written: power cycle the system before retrying'),
    ('firmware', 'the firmware may be half-written: power cycle the system before retrying'),
)
KILLED_UNKNOWN = ('what it wrote is not known: check mode tells what the expander runs, then '
                  'run the download again')


def last_status(events):
    """(port, text) of the last non-empty status line, or (None, None)."""
    for event in reversed(events):
        if event.get('event') == 'status' and event.get('text'):
            return event.get('port'), event['text']
    return None, None


def _no_result(rc, events, stdout, stderr):
    """The task result of a run without a result line. Once it said
    anything it may have written: changed, and failed with its last status
    and the advice that status implies."""
    if not events:
        text = (stderr or '').strip() or (stdout or '').strip() or 'no output'
        return {
            'changed': rc is None or rc < 0 or rc > 128,
            'failed': True,
            'rc': rc,
            'outcome': 'no-result',
            'msg': 'tarnwick-cli ended (exit %s) without a result line: %s' % (rc, text),
            'ports': [],
        }
    port, status = last_status(events)
    progress = any(e.get('event') == 'progress' for e in events)
    advice = KILLED_UNKNOWN
    for words, text in KILLED_ADVICE:
        if status and words in status.lower():
            advice = text
            break
    else:
        if progress:
            advice = KILLED_ADVICE[-1][1]
    where = ' on %s' % port if port else ''
    said = 'its last status%s: "%s"' % (where, status) if status else 'no status line'
    return {
        'changed': True,
        'failed': True,
        'rc': rc,
        'outcome': 'no-result',
        'msg': 'tarnwick-cli ended (exit %s) without a result line, %s; %s.' % (rc, said, advice),
        'ports': [],
    }


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
        return _no_result(rc, events, stdout, stderr)
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


def map_plan(rc, stdout, stderr='', ports=None):
    """The check-mode result of a tarnwick-cli plan --json run: changed when
    a port would be downloaded to, failed where the download would fail
    (the exit code is not 0, or there is no result line). Each port's entry
    has the plan event's fields: would_download, current (why), path,
    factory_defaults, version."""
    ports = as_list(ports)
    events = json_lines(stdout)
    last = events[-1] if events else None
    if last is None or last.get('event') not in ('result', 'summary'):
        text = (stderr or '').strip() or (stdout or '').strip() or 'no output'
        return {'changed': False, 'failed': True, 'rc': rc, 'outcome': 'no-result', 'ports': [],
                'msg': 'tarnwick-cli plan ended (exit %s) without a result line: %s' % (rc, text)}
    plans = {}
    for event in events:
        if event.get('event') == 'plan':
            plans[event.get('port', ports[0] if ports else None)] = event
    if last.get('event') == 'summary':
        sources = last.get('ports', [])
    else:
        sources = [dict(last, port=last.get('port', ports[0] if ports else None))]
    entries = []
    for source in sources:
        entry = _port_entry(source)
        entry.pop('written')
        plan = dict(plans.get(entry['port'], {}), **source)
        for key in ('would_download', 'current', 'path', 'factory_defaults'):
            entry[key] = plan.get(key)
        entry['would_download'] = bool(entry['would_download'])
        entry['factory_defaults'] = bool(entry['factory_defaults'])
        entries.append(entry)
    line_code = last.get('exit_code')
    code = rc if rc not in (None, EXIT_SUCCESS) or line_code is None else line_code
    failed = code != EXIT_SUCCESS
    if failed:
        bad = [e for e in entries if e['exit_code'] not in (EXIT_SUCCESS, None)] or entries
        msg = '; '.join('%s: %s (exit %s)' % (e['port'], e['message'] or e['outcome'],
                                              e['exit_code']) if e['port'] else
                        '%s (exit %s)' % (e['message'] or e['outcome'], e['exit_code'])
                        for e in bad)
        if last.get('event') == 'summary' and last.get('message'):
            msg = last['message'] + ' ' + msg
    else:
        would = sum(1 for e in entries if e['would_download'])
        msg = '%d port(s): %d would be written, %d already current' % (
            len(entries), would, len(entries) - would)
    return {
        'changed': any(e['would_download'] for e in entries),
        'failed': failed,
        'rc': code,
        'outcome': 'check' if not failed else last.get('outcome', 'check-failed'),
        'msg': msg,
        'ports': entries,
    }
