#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: info
short_description: Running expander versions and an image file's contents, as facts
description:
  - Asks each port for its running firmware version (C(tarnwick-cli probe --json)) and reads
    an image file's version record and images (C(tarnwick-cli info --json)).
  - Changes nothing; nothing but the version query is sent.
  - The results are set as the fact C(tarnwick_expander).
version_added: "1.0.0"
author:
  - tarnwick developers
requirements:
  - tarnwick-cli on the managed host
options:
  port:
    description:
      - The serial port, or a list of them. Without it the port of C(config) is asked, if
        C(config) is given.
    type: list
    elements: str
  file:
    description:
      - An image file on the managed host to describe. Without it no file is read.
    type: path
  cli:
    description:
      - The tarnwick-cli program, a name looked up on C(PATH) or a path. Without it, a host
        that has no tarnwick-cli on its C(PATH) fails the task with a message that names this
        option.
    type: str
    default: tarnwick-cli
  config:
    description:
      - An C(fwdl.ini) to read settings from (signature, port); nothing is written back.
    type: path
  signature:
    description:
      - The image header signature (tarnwick-cli's default is C(VRQ)).
    type: str
attributes:
  check_mode:
    support: full
    description: Runs the same way in check mode; it changes nothing either way.
  diff_mode:
    support: none
  facts:
    support: full
seealso:
  - module: tarnwick.expander.firmware
'''

EXAMPLES = r'''
- name: What runs, and what the depot's file holds
  tarnwick.expander.info:
    port: "{{ expander_ports }}"
    file: /srv/fw/fw.bin

- name: Hosts whose enclosures all run the file's version
  ansible.builtin.debug:
    msg: "{{ tarnwick_expander.ports | map(attribute='version') | unique }}"
'''

RETURN = r'''
ansible_facts:
  description: Facts under C(tarnwick_expander).
  returned: always
  type: dict
  contains:
    tarnwick_expander:
      description: The running versions and the file.
      type: dict
      contains:
        ports:
          description: One entry per port, in the order given.
          type: list
          elements: dict
          contains:
            port:
              description: The port as given.
              type: str
            version:
              description: The running version, or null when the port gave none.
              type: str
              sample: 1.02.0000.10
            exit_code:
              description: The probe's exit code (0 found, 3 cannot open, 4 not found, 5 too old).
              type: int
            outcome:
              description: The probe's outcome (C(success), C(device-not-found), ...).
              type: str
            message:
              description: The probe's result line.
              type: str
        file:
          description:
            - As C(tarnwick-cli info --json) gives it - C(file), C(size), C(sha256),
              C(signature), C(version) (null without a version record), C(images) (offset,
              length, part, kind, sha256 each, in download order), C(path) (C(normal) or
              C(rebooting)). Null when no file was named.
          type: dict
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.tarnwick.expander.plugins.module_utils.tarnwick_cli import (
    cli_path, info_command, json_lines, missing_cli_text, probe_command, probe_ports,
    probe_version)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            port=dict(type='list', elements='str'),
            file=dict(type='path'),
            cli=dict(type='str', default='tarnwick-cli'),
            config=dict(type='path'),
            signature=dict(type='str'),
        ),
        supports_check_mode=True,
    )
    params = module.params
    cli = cli_path(params['cli'], module.get_bin_path)
    if cli is None:
        module.fail_json(msg=missing_cli_text(params['cli']))
    facts = {'ports': [], 'file': None}
    if params['file']:
        rc, out, err = module.run_command(info_command(cli, params))
        tables = json_lines(out)
        if rc != 0 or not tables:
            module.fail_json(msg='%s cannot be read: %s' % (params['file'], (err or out).strip()),
                             rc=rc)
        facts['file'] = tables[-1]
    for port in probe_ports(params):
        rc, out, err = module.run_command(probe_command(cli, port, params))
        version, result = probe_version(rc, out)
        result = result or {}
        facts['ports'].append({
            'port': port,
            'version': version,
            'exit_code': rc,
            'outcome': result.get('outcome', 'no-result'),
            'message': result.get('message', err.strip()),
        })
    module.exit_json(changed=False, ansible_facts={'tarnwick_expander': facts})


if __name__ == '__main__':
    main()
