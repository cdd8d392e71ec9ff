#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: firmware
short_description: Load firmware into the SAS expanders of a host with tarnwick-cli
description:
  - Runs C(tarnwick-cli download --json) on the host for one or several serial ports and
    turns its last line (C(result) for one port, C(summary) for several) into the task's
    result.
  - With C(skip_if_current) (the default) a port whose running version equals the file's
    version record is sent nothing; the task is then C(ok), not C(changed).
  - Several ports are loaded in parallel, one tarnwick-cli process per port; nothing is sent
    anywhere until every port is open.
  - A failed bootloader (tarnwick-cli exit code 8) fails the task with a message that says
    not to power cycle the system. Any other failure fails the task with the exit code in
    C(rc).
  - C(msg) has one line per port - the port, its outcome, the versions, and the one thing to
    do - also without C(-v), where the task's output shows it under the task's line. A port
    held back because another port of the run was refused is C(not started); nothing was
    sent to it.
  - A file whose version record is older than the version a port runs is refused before
    anything is sent, unless C(allow_older) is true.
  - Check mode is C(tarnwick-cli plan --json) with the same ports, file and options; every
    port is asked at once, nothing but the version query is sent, and it fails where the
    download would fail (no port and no C(config), a port named twice, a port that does not
    answer, a bad file or digest). The task is C(changed) when a download would happen.
  - A tarnwick-cli that ends without its result line (killed, out of memory, an async
    time-out) fails the task as C(changed), with its last status line and what that step
    implies (during the bootloader do not power cycle; during the firmware power cycle
    the system, then run the download again).
  - The power cycle a successful download asks for is not done here; leave it to the module
    that switches your enclosures.
version_added: "1.0.0"
author:
  - tarnwick developers
requirements:
  - tarnwick-cli on the managed host (the tarnwick package, or a path in C(cli))
options:
  port:
    description:
      - The serial port, or a list of them, as tarnwick-cli takes them (C(/dev/ttyUSB0), a
        C(/dev/serial/by-id) path, C(COM3) or a number).
      - Without it the port of C(config) is used.
    type: list
    elements: str
  file:
    description:
      - The image file on the managed host.
    type: path
    required: true
  cli:
    description:
      - The tarnwick-cli program, a name looked up on C(PATH) or a path. Without it, a host
        that has no tarnwick-cli on its C(PATH) fails the task with a message that names this
        option.
    type: str
    default: tarnwick-cli
  allow_older:
    description:
      - Load a file whose version record is older than the version a port runs (a
        downgrade). Without it such a port is refused before anything is sent, and check
        mode says so.
    type: bool
    default: false
  skip_if_current:
    description:
      - Send nothing to a port whose running version equals the file's version record.
      - A file without a version record is always downloaded.
    type: bool
    default: true
  sha256:
    description:
      - The SHA-256 the image file must have (64 hex digits). A file with another digest is
        refused before anything is sent (rc 2).
    type: str
  config:
    description:
      - An C(fwdl.ini) to read settings from; nothing is written back.
    type: path
  signature:
    description:
      - The image header signature (tarnwick-cli's default is C(VRQ)).
    type: str
  dlretry:
    description:
      - Attempts per packet (1 to 1000; tarnwick-cli's default 10).
    type: int
  dlstartdelay:
    description:
      - Seconds to wait for the status of a packet at offset 0 (default 45).
    type: int
  dlnormaldelay:
    description:
      - Seconds to wait for every other status and each acknowledgement (default 15).
    type: int
  fwattempts:
    description:
      - Firmware downloads before a reboot must show the new version (default 3).
    type: int
  writecmd:
    description:
      - The C(writecmd) key; traced only.
    type: str
  linewaittime:
    description:
      - Milliseconds, traced only (0 to 1000).
    type: int
  charwaittime:
    description:
      - Milliseconds, traced only (0 to 200).
    type: int
  log:
    description:
      - Write tarnwick-cli's trace to this file on the managed host (appended). With several
        ports each port's trace goes to C(LOG.1), C(LOG.2), ...
    type: path
attributes:
  check_mode:
    support: full
    description: Runs tarnwick-cli plan; only the running versions are asked.
  diff_mode:
    support: none
notes:
  - "rc 8: the new firmware runs but its bootloader is not written: do NOT power cycle this
    system, run the download again."
  - "rc 6: power cycle the system, then run the download again."
seealso:
  - module: tarnwick.expander.info
'''

EXAMPLES = r'''
- name: Load the firmware into the host's enclosures where another version runs
  tarnwick.expander.firmware:
    port: "{{ expander_ports }}"
    file: /srv/fw/fw.bin
    sha256: "{{ fw_sha256 }}"
  register: flash

- name: One enclosure, always downloaded, with more patience per packet
  tarnwick.expander.firmware:
    port: /dev/serial/by-id/usb-FTDI_A9X1-if00-port0
    file: /srv/fw/fw.bin
    skip_if_current: false
    dlretry: 20
    dlstartdelay: 90

- name: What would happen (nothing is written)
  tarnwick.expander.firmware:
    port: [/dev/ttyUSB0, /dev/ttyUSB1]
    file: /srv/fw/fw.bin
  check_mode: true
  register: plan

- name: Show which enclosures would get the factory defaults
  ansible.builtin.debug:
    msg: "{{ plan.ports | selectattr('factory_defaults') | map(attribute='port') | list }}"
'''

RETURN = r'''
rc:
  description:
    - tarnwick-cli's exit code (the most severe of the ports' for several). 0 success,
      2 bad arguments or file, 3 cannot open the port, 4 device not found, 5 firmware too old,
      6 download failed (power cycle, then retry), 7 stopped, 8 bootloader failed (do NOT power
      cycle), 9 serial port lost.
  returned: always
  type: int
  sample: 0
msg:
  description:
    - One line per port - the port, its outcome (C(not started) for a port held back because
      another port of the run was refused), the versions, and the one thing to do. Several
      ports have a first line of their own - the counts, or, where a bootloader failed, not to
      power cycle; a refusal of the whole run names its cause there.
  returned: always
  type: str
  sample: "/dev/ttyUSB0: success (running 1.02.0000.10, file 1.02.0000.11). Done: every image was written and accepted. Power cycle the system for the new firmware to take effect."
outcome:
  description:
    - The outcome of the run as tarnwick-cli names it (C(success), C(already-current),
      C(download-failed), C(bootloader-failed), ...); C(check) in check mode.
  returned: always
  type: str
  sample: success
cmd:
  description: The command that ran (the download, or in check mode the plan).
  returned: always
  type: list
  elements: str
ports:
  description: One entry per port, in the order given.
  returned: always
  type: list
  elements: dict
  contains:
    port:
      description: The port as given.
      type: str
      sample: /dev/ttyUSB0
    outcome:
      description:
        - The port's outcome (C(success), C(already-current), ...); in check mode
          C(would-download) or C(already-current), or the plan's failure
          (C(older-file) for a file older than the running firmware).
        - C(not-started) (exit code 7) for a port that was held back because another port of
          the run was refused; nothing was sent to it.
      type: str
      sample: already-current
    exit_code:
      description: The port's own exit code.
      type: int
      sample: 0
    message:
      description: The port's result line.
      type: str
    written:
      description: C(nothing), C(partly) or C(all) (every image accepted); not in check mode.
      type: str
      sample: all
    version_before:
      description: The version that ran before, where it was read.
      type: str
      sample: 1.02.0000.10
    version_after:
      description:
        - The version that runs afterwards, where it is known (C(already-current)); after a
          download the new version runs only once the system is power cycled.
      type: str
      sample: 1.02.0000.11
    file_version:
      description: The file's version record, if it has one.
      type: str
      sample: 1.02.0000.11
    path:
      description: Check mode only. C(normal) (all images in one sequence) or C(rebooting)
        (firmware, reboot, version check, bootloader).
      type: str
      sample: normal
    would_download:
      description: Check mode only. Whether the download would send the file.
      type: bool
    current:
      description:
        - Check mode only. Why, as tarnwick-cli plan names it (C(current), C(version-differs),
          C(bootloader-unknown), C(bootloader-failed), C(defaults-pending),
          C(no-version-record)).
      type: str
      sample: version-differs
    factory_defaults:
      description:
        - Check mode only. Whether the factory defaults would be written after the download,
          as tarnwick-cli plan decides it.
      type: bool
stdout_lines:
  description: tarnwick-cli's output, one JSON object per line.
  returned: always
  type: list
  elements: str
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.tarnwick.expander.plugins.module_utils.tarnwick_cli import (
    cli_path, download_command, map_download, map_plan, missing_cli_text, plan_command)


def find_cli(module):
    cli = module.params['cli']
    path = cli_path(cli, module.get_bin_path)
    if path is None:
        module.fail_json(msg=missing_cli_text(cli), rc=None, ports=[])
    return path


def check_mode(module, cli):
    cmd = plan_command(cli, module.params)
    rc, out, err = module.run_command(cmd)
    result = map_plan(rc, out, err, module.params['port'])
    result.update(cmd=cmd, stdout_lines=out.splitlines())
    if err.strip():
        result['stderr'] = err
    if result.pop('failed'):
        module.fail_json(**result)
    module.exit_json(**result)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            port=dict(type='list', elements='str'),
            file=dict(type='path', required=True),
            cli=dict(type='str', default='tarnwick-cli'),
            skip_if_current=dict(type='bool', default=True),
            allow_older=dict(type='bool', default=False),
            sha256=dict(type='str'),
            config=dict(type='path'),
            signature=dict(type='str'),
            dlretry=dict(type='int'),
            dlstartdelay=dict(type='int'),
            dlnormaldelay=dict(type='int'),
            fwattempts=dict(type='int'),
            writecmd=dict(type='str'),
            linewaittime=dict(type='int'),
            charwaittime=dict(type='int'),
            log=dict(type='path'),
        ),
        supports_check_mode=True,
    )
    cli = find_cli(module)
    if module.check_mode:
        check_mode(module, cli)
    cmd = download_command(cli, module.params)
    rc, out, err = module.run_command(cmd)
    result = map_download(rc, out, err, module.params['port'])
    result.update(cmd=cmd, stdout_lines=out.splitlines())
    if err.strip():
        result['stderr'] = err
    if result.pop('failed'):
        module.fail_json(**result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
