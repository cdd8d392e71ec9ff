# -*- coding: utf-8 -*-
# What the modules of tarnwick.expander make of tarnwick-cli's output: the
# command lines they run, and the mapping of its JSON lines (--json: one
# object per line, the last a "result" for one port or a "summary" for
# several) to a task result. Plain Python with no Ansible import, so that a
# unit test can call every function on captured output.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os
import re

# Exit codes of tarnwick-cli that the mapping must tell apart.
EXIT_SUCCESS = 0
EXIT_DOWNLOAD_FAILED = 6
EXIT_STOPPED = 7
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

# The one thing to do after a port's exit code, where the code alone decides
# it. The module's msg, its documentation (notes) and the collection's README
# use these words; tests/ansible holds them to it.
BOOTLOADER_ADVICE = ('the new firmware runs but its bootloader is not written: do NOT power '
                     'cycle this system, run the download again')
POWER_CYCLE_ADVICE = 'power cycle the system, then run the download again'
NOT_STARTED_ADVICE = ('nothing was sent to it: mend the port that was refused, then run the '
                      'task again')
EXIT_ADVICE = {
    EXIT_DOWNLOAD_FAILED: POWER_CYCLE_ADVICE,
    EXIT_BOOTLOADER: BOOTLOADER_ADVICE,
}

# The module option behind each flag of tarnwick-cli, for its texts: a task
# sets `sha256`, not --sha256.
FLAG_OPTIONS = dict([('--port', 'port'), ('--file', 'file'), ('--sha256', 'sha256'),
                     ('--skip-if-current', 'skip_if_current'),
                     ('--allow-older', 'allow_older')] +
                    [(flag, name) for name, flag in SETTING_OPTIONS])
_FLAG = re.compile(r'(?<![\w-])--[a-z0-9][a-z0-9-]*')


def option_names(text):
    """`text` with each tarnwick-cli flag the module sets named as the task
    spells it (\"the sha256 option\" for --sha256); other flags stay."""
    def name(match):
        option = FLAG_OPTIONS.get(match.group(0))
        return 'the %s option' % option if option else match.group(0)
    text = text or ''
    # "--sha256: --sha256 wants ...": the option named once.
    said = re.match(r'(--[a-z0-9-]+): (?=\1\b)', text)
    if said:
        text = text[said.end():]
    return _FLAG.sub(name, text)


def missing_cli_text(cli):
    """The failure of a task whose tarnwick-cli is not there."""
    if '/' in cli or '\\' in cli:
        where = '%s is not an executable file on this host' % cli
    else:
        where = '%s is not on the PATH of this host' % cli
    return ('%s: install the tarnwick package there, or name the program with the '
            'module\'s cli option (cli: /path/to/tarnwick-cli).' % where)


def cli_path(cli, find):
    """The program `cli` names, or None when it is not there. A name
    without a slash is looked up with `find` (the PATH search)."""
    if '/' in cli or '\\' in cli:
        return cli if os.path.isfile(cli) and os.access(cli, os.X_OK) else None
    return find(cli)


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
    if params.get('allow_older'):
        args.append('--allow-older')
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
    ('rebooting', 'the firmware may be half-written: ' + POWER_CYCLE_ADVICE),
    ('firmware', 'the firmware may be half-written: ' + POWER_CYCLE_ADVICE),
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
        text = option_names((stderr or '').strip() or (stdout or '').strip() or 'no output')
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


def held_back(entries, code):
    """Marks the ports of a run that never started as "not-started": exit 7
    (stopped) with nothing written, in a run that ended with another code
    than 0 or 7, i.e. one of its ports was refused and so nothing was sent
    anywhere. A run stopped by a signal ends 7 itself: its ports stay
    "stopped"."""
    if code in (EXIT_SUCCESS, EXIT_STOPPED) or len(entries) < 2:
        return
    if any(e.get('written') not in (None, 'nothing') for e in entries):
        return
    for e in entries:
        if e['exit_code'] == EXIT_STOPPED:
            e['outcome'] = 'not-started'


def _versions(entry):
    if entry['outcome'] == 'already-current' and entry.get('version_after'):
        return ['runs %s' % entry['version_after']]
    versions = []
    running = entry.get('version_before') or entry.get('version')
    if running:
        versions.append('running %s' % running)
    if entry.get('file_version'):
        versions.append('file %s' % entry['file_version'])
    return versions


def _sentence(text):
    """tarnwick-cli's text with the task's option names, as a sentence."""
    text = option_names(text).strip()
    return text if not text or text[-1] in '.!?' else text + '.'


def port_line(entry):
    """One port in one line: the port, its outcome (and exit code), the
    versions, and the one thing to do: the advice of its exit code where the
    code decides it, else tarnwick-cli's own result line for it."""
    outcome = entry['outcome'] or 'no-result'
    code = entry['exit_code']
    details = ['exit %s' % code] if code not in (EXIT_SUCCESS, None) else []
    details += _versions(entry)
    head = outcome.replace('-', ' ') + (' (%s)' % ', '.join(details) if details else '')
    advice = NOT_STARTED_ADVICE if outcome == 'not-started' else EXIT_ADVICE.get(code)
    todo = advice[0].upper() + advice[1:] + '.' if advice else _sentence(entry['message'])
    line = '%s. %s' % (head, todo) if todo else head + '.'
    return '%s: %s' % (entry['port'], line) if entry['port'] else line


def _refusal(last, entries):
    """The run's own refusal text, where no port's line carries it."""
    message = last.get('message') if last.get('event') == 'summary' else None
    if not message or any(message == e['message'] for e in entries):
        return []
    return [_sentence(message)]


def map_download(rc, stdout, stderr='', ports=None):
    """The task result of a tarnwick-cli download --json run.

    changed: some port was written to (written is not "nothing"); failed: the
    exit code is not 0 or there is no result line. msg has one line per port
    (port_line), after a first line that says not to power cycle where a
    bootloader failed among several ports. Returns a dict with changed,
    failed, rc, msg, outcome and ports (one entry per port)."""
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
    held_back(entries, code)
    changed = any(e['written'] not in (None, 'nothing') for e in entries)
    failed = code != EXIT_SUCCESS
    head = []
    bootloader = [e['port'] for e in entries if e['exit_code'] == EXIT_BOOTLOADER]
    if (bootloader and len(entries) > 1) or (code == EXIT_BOOTLOADER and not bootloader):
        names = ', '.join(p for p in bootloader if p) or 'the expander'
        head.append('Bootloader failed on %s: %s.' % (names, BOOTLOADER_ADVICE))
    elif not failed and len(entries) > 1:
        current = sum(1 for e in entries if e['outcome'] == 'already-current')
        head.append('%d ports: %d written, %d already current.' % (
            len(entries), len(entries) - current, current))
    head += _refusal(last, entries)
    return {
        'changed': changed,
        'failed': failed,
        'rc': code,
        'outcome': last.get('outcome'),
        'msg': '\n'.join(head + [port_line(e) for e in entries]),
        'ports': entries,
    }


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
        text = option_names((stderr or '').strip() or (stdout or '').strip() or 'no output')
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
        if not entry['version_before']:
            entry['version_before'] = plan.get('version')
        if not entry['file_version']:
            entry['file_version'] = plan.get('file_version')
        entry['would_download'] = bool(entry['would_download'])
        entry['factory_defaults'] = bool(entry['factory_defaults'])
        entries.append(entry)
    line_code = last.get('exit_code')
    code = rc if rc not in (None, EXIT_SUCCESS) or line_code is None else line_code
    failed = code != EXIT_SUCCESS
    held_back(entries, code)
    would = sum(1 for e in entries if e['would_download'])
    head = ['%d port(s): %d would be written, %d already current.' % (
        len(entries), would, len(entries) - would)] if not failed else []
    msg = '\n'.join(head + _refusal(last, entries) + [port_line(e) for e in entries])
    return {
        'changed': any(e['would_download'] for e in entries),
        'failed': failed,
        'rc': code,
        'outcome': 'check' if not failed else last.get('outcome', 'check-failed'),
        'msg': msg,
        'ports': entries,
    }
