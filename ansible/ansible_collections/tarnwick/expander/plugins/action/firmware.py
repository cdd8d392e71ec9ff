# -*- coding: utf-8 -*-
# The controller's side of tarnwick.expander.firmware. It runs the module as
# Ansible runs any module; then, where the default output would show nothing
# but "changed: [host]" (no -v), it shows the task's msg there: what happened
# on each port. A failed task shows its msg anyway, and -v the whole result.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

from ansible import constants as C
from ansible.plugins.action.normal import ActionModule as NormalAction

# The stdout callbacks that show an ok or changed task by its status alone.
TERSE_CALLBACKS = ('default', 'ansible.builtin.default', 'yaml', 'community.general.yaml')


class ActionModule(NormalAction):

    def run(self, tmp=None, task_vars=None):
        result = super(ActionModule, self).run(tmp, task_vars)
        if (self._display.verbosity == 0 and C.DEFAULT_STDOUT_CALLBACK in TERSE_CALLBACKS
                and not result.get('failed') and result.get('msg')):
            host = self._task.delegate_to or (task_vars or {}).get('inventory_hostname', '')
            for line in str(result['msg']).splitlines():
                self._display.display('  [%s] %s' % (host, line))
        return result
