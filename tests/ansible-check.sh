#!/bin/bash
# Checks the Ansible example as CI can, offline: the playbook and its role pass a syntax check
# and ansible-lint's production profile (the ansible.windows collection comes with Debian's
# ansible package).
#   ansible-check.sh EXAMPLE_DIR SCRATCH_DIR
set -u
example=$1
scratch=$2
mkdir -p "$scratch"
# Ansible's and the linter's caches stay in the build tree.
export ANSIBLE_HOME=$scratch/home ANSIBLE_LOCAL_TEMP=$scratch/tmp XDG_CACHE_HOME=$scratch/cache
export ANSIBLE_NOCOLOR=1 NO_COLOR=1
cd "$example" || exit 1
ansible-playbook -i inventory.yml --syntax-check playbook.yml || exit 1
ansible-lint --offline --profile production --nocolor playbook.yml roles/zqclean || exit 1
echo "the Ansible example passes"
