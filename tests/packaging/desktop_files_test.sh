#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# desktop_files_test.sh DESKTOP_ENTRY METAINFO: both pass their validators.
set -euo pipefail
desktop-file-validate "$1"
appstreamcli validate --no-net --pedantic "$2"
grep -q "<launchable type=\"desktop-id\">$(basename "$1")</launchable>" "$2"
