#!/usr/bin/env python3
"""Judges one download of tarnwick.exe by the simulator's report.

    check_download_report.py REPORT IMAGE_FILE FWIMAGE EXPECT

IMAGE_FILE is the file tarnwick downloaded; FWIMAGE the image tool, used to
list the images in it. EXPECT names what the simulator must have seen:
  normal       the firmware image once, no reboot
  reboot       firmware, a reboot that changed the version, bootloader
  stale        firmware, a reboot that kept the version, firmware again,
               a reboot that changed it, bootloader
  neverreturn  firmware, a reboot that never ended, no bootloader
  reject       the firmware image once although one packet was rejected
  stop         no image received in full (the user stopped the download)
  bootfail     firmware, a reboot that changed the version, every bootloader
               packet rejected: no bootloader image
  cable        the line went away during the firmware image (cut off, never
               terminated), then the firmware image once in full
  cableboot    firmware, a reboot that changed the version, the line gone
               during the bootloader, then firmware and bootloader in full
  cablegone    the line gone during the firmware image for good: no image
Every image received in full must equal its image in the file byte for byte,
and the utility must have broken no rule of the protocol. Prints one line per
failed check; exits 1 if any failed.
"""
import json
import re
import subprocess
import sys

FW, BOOT = 0x06, 0xFF


def file_images(path, fwimage):
    out = subprocess.run([fwimage, "info", path], capture_output=True, text=True).stdout
    data = open(path, "rb").read()
    images = {}
    for m in re.finditer(r"#\d+\s+offset (\d+)\s+length (\d+)\s+part 0x([0-9a-fA-F]{2})", out):
        off, length, part = int(m.group(1)), int(m.group(2)), int(m.group(3), 16)
        images.setdefault(part, data[off:off + length])
    return images


def main():
    report_path, image_file, fwimage, expect = sys.argv[1:5]
    report = json.load(open(report_path))
    expected = file_images(image_file, fwimage)
    problems = []

    def check(ok, what):
        if not ok:
            problems.append(what)

    counts = report.get("counts", {})
    check(counts.get("violations") == 0,
          "protocol violations: %s" % [v.get("text") for v in report.get("violations", [])[:5]])

    received = [img for img in report.get("images", []) if img.get("terminated")]
    parts = [img.get("part") for img in received]
    for img in received:
        want = expected.get(img.get("part"))
        check(want is not None, "image of unexpected part %s" % img.get("part"))
        if expect == "stop":
            check(not img.get("complete"), "image %s received in full" % img.get("number"))
            continue
        check(img.get("complete"), "image %s incomplete" % img.get("number"))
        if want is not None and img.get("file"):
            got = open(img["file"], "rb").read()
            check(got == want, "image %s differs from the file (%d vs %d bytes)"
                  % (img.get("number"), len(got), len(want)))

    reboots = report.get("reboots", [])
    changed = [r for r in reboots if r.get("after") and r.get("after") != r.get("before")]
    if expect in ("cable", "cableboot", "cablegone"):
        check(counts.get("line_losses") == 1, "line losses: %s" % counts.get("line_losses"))
        check(len(received) == counts.get("download_sequences", 0) - 1,
              "not exactly one image cut off: %s" % report.get("images"))
    if expect == "cablegone":
        check(parts == [], "images received: %s" % parts)
    if expect == "cable":
        check(parts == [FW], "images received: %s" % parts)
        check(not reboots, "unexpected reboots: %s" % reboots)
    if expect == "cableboot":
        check(parts == [FW, FW, BOOT], "images received: %s" % parts)
        check(len(changed) >= 1, "no reboot changed the version: %s" % reboots)
    if expect in ("normal", "reject"):
        check(parts == [FW], "images received: %s" % parts)
        check(not reboots, "unexpected reboots: %s" % reboots)
    if expect == "reject":
        check(counts.get("rejected") == 1, "rejected packets: %s" % counts.get("rejected"))
        check(counts.get("retries", 0) >= 1, "no packet was sent again")
    if expect == "reboot":
        check(parts == [FW, BOOT], "images received: %s" % parts)
        check(len(changed) >= 1, "no reboot changed the version: %s" % reboots)
    if expect == "stale":
        check(parts == [FW, FW, BOOT], "images received: %s" % parts)
        check(len(reboots) >= 2 and reboots[0].get("after") == reboots[0].get("before"),
              "first reboot did not keep the version: %s" % reboots)
        check(len(changed) >= 1, "no reboot changed the version: %s" % reboots)
    if expect == "stop":
        check(not reboots, "unexpected reboots: %s" % reboots)
    if expect == "bootfail":
        check(parts == [FW], "images received: %s" % parts)
        check(len(reboots) == 1 and len(changed) == 1, "reboots: %s" % reboots)
        check(counts.get("rejected", 0) >= 1, "no bootloader packet was rejected")
    if expect == "neverreturn":
        check(parts == [FW], "images received: %s" % parts)
        check(reboots and reboots[0].get("after") is None, "reboots: %s" % reboots)
    # The simulator starts at 1.02, which needs no factory defaults.
    check(counts.get("defaults_writes", 0) == 0, "defaults written %s times" % counts.get("defaults_writes"))

    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
