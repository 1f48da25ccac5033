"""The preview mode end to end: the real executable writes 880 by 672 PNGs of the four screens,
checked at chosen pixels read at scale 2 (logical x, y -> pixel 2x, 2y), away from anti-aliased
edges and text. Copies of the four PNGs stay in build/ as preview-<stage>.png."""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

import harness

EXE = sys.argv[1]
OUT = os.path.join(harness.ROOT, "build")
WORK = tempfile.mkdtemp(prefix="varnok-preview-")
DIGESTS = os.path.join(harness.ROOT, "tests", "fixtures", "preview-digests.txt")

FIELD, BORDER, ACCENT, TRACK = 0x101822, 0x2A475E, 0x66C0F4, 0x0F1721


def rgb(value):
    return ((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF)


def mix(a, b, t):
    """Where a vertical gradient from a to b stands at fraction t."""
    return tuple(round(x + (y - x) * t) for x, y in zip(rgb(a), rgb(b)))


def body_at(y):
    return mix(0x1E2E41, 0x172230, (y + 0.25 - 36) / 300)


def header_at(y):
    return mix(0x252B34, 0x13161C, (y + 0.25) / 36)


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


def render(stage, name=None):
    """Renders one preview; returns (exit code, path)."""
    path = os.path.join(WORK, (name or stage) + ".png")
    args = [EXE, "--render-preview", wine_path(path)]
    if stage is not None:
        args += ["--stage", stage]
    return harness.run_wine(args).returncode, path


_cache = {}


def preview(stage):
    if stage not in _cache:
        code, path = render(stage)
        assert code == 0, f"--stage {stage}: exit code {code}"
        assert os.path.exists(path), f"--stage {stage}: no PNG written"
        shutil.copyfile(path, os.path.join(OUT, f"preview-{stage}.png"))
        _cache[stage] = harness.read_png(path)
    return _cache[stage]


def expect(img, x, y, colour, what, tolerance=4):
    """Reads the pixel whose top-left corner is at logical (x, y)."""
    px = img[2](int(x * 2), int(y * 2))
    want = rgb(colour) if isinstance(colour, int) else colour
    assert harness.close_to(px, want, tolerance), f"{what} at ({x}, {y}): {px[:3]}, expected {want}"


def accent_columns(img, y=195):
    _, _, pixel = img
    return [x for x in range(880) if harness.close_to(pixel(x, int(y * 2)), rgb(ACCENT), 12)]


def white_pixels(img, x0, y0, x1, y1):
    _, _, pixel = img
    return sum(1 for y in range(int(y0 * 2), int(y1 * 2)) for x in range(int(x0 * 2), int(x1 * 2))
               if min(pixel(x, y)[:3]) >= 215)


def expect_frame(img, stage):
    width, height, pixel = img
    assert (width, height) == (880, 672), f"{stage}: {width}x{height}"
    for y in range(0, 672, 7):
        for x in range(0, 880, 11):
            assert pixel(x, y)[3] == 255, f"{stage}: transparent pixel at {x},{y}"
    expect(img, 200, 18, header_at(18), f"{stage} header middle")
    expect(img, 60, 5, header_at(5), f"{stage} header top")
    expect(img, 60, 30, header_at(30), f"{stage} header bottom")
    expect(img, 20, 60, body_at(60), f"{stage} body top")
    expect(img, 20, 320, body_at(320), f"{stage} body bottom")
    expect(img, 424, 250, body_at(250), f"{stage} body right")
    for x, y in ((0, 200), (439.5, 200), (220, 0), (220, 335.5), (0, 0), (439.5, 335.5)):
        expect(img, x, y, BORDER, f"{stage} window border")
    # The wordmark: white strokes inside its band, none beside it.
    assert white_pixels(img, 102, 74, 338, 108) > 2000, f"{stage}: no logo in its band"
    assert white_pixels(img, 8, 60, 96, 130) == 0, f"{stage}: white beside the logo band"


def test_ready_shows_the_folder_field_both_ticked_boxes_and_the_idle_install_button():
    img = preview("ready")
    expect_frame(img, "ready")
    expect(img, 40, 150, FIELD, "folder field")
    expect(img, 200, 180, FIELD, "folder field under the text")
    expect(img, 36, 175, BORDER, "folder field border")
    for row in (198, 226):
        expect(img, 36, row + 11.5, ACCENT, f"ticked box outline, row {row}")
        expect(img, 46, row + 11.5, ACCENT, f"tick, row {row}")
        expect(img, 49, row + 16, FIELD, f"box inside, row {row}")
    # Idle Install: inner gradient 0x799905 -> 0x536904 from y 265 to 305.
    expect(img, 60, 270, mix(0x799905, 0x536904, 5.25 / 40), "idle Install body", 5)
    expect(img, 60, 300, mix(0x799905, 0x536904, 35.25 / 40), "idle Install body", 5)
    expect(img, 300, 264, mix(0xA4D007, 0x536904, 0.25 / 42), "Install rim", 5)
    # Browse, idle: outline 0x42607E.
    expect(img, 325, 165, 0x42607E, "Browse outline")


def test_installing_fills_the_bar_to_62_percent():
    img = preview("installing")
    expect_frame(img, "installing")
    fill = accent_columns(img)
    assert fill, "no progress fill"
    assert abs(fill[0] - 72) <= 1, f"fill starts at pixel {fill[0]}"
    # 36 + 0.6167 x 368 = 262.93 logical, 525.9 pixels.
    assert abs(fill[-1] - 525) <= 1, f"fill ends at pixel {fill[-1]}, expected 525 (x 262.9)"
    assert len(fill) == fill[-1] - fill[0] + 1, "fill has gaps"
    expect(img, 300, 195, TRACK, "empty track")
    expect(img, 20, 195, body_at(195), "left of the track")
    # Cancel, the idle secondary button.
    expect(img, 36, 285, 0x42607E, "Cancel outline")
    expect(img, 50, 268, mix(0x2E435B, 0x233346, 4.25 / 42), "Cancel body", 5)
    # The percentage is drawn in the accent colour at the right.
    _, _, pixel = img
    assert any(harness.close_to(pixel(x, y), rgb(ACCENT), 24)
               for y in range(316, 360) for x in range(660, 808)), "no percentage"


def test_done_shows_the_badge_with_its_tick():
    img = preview("done")
    expect_frame(img, "done")
    expect(img, 206, 176, mix(0x799905, 0x536904, 19.25 / 38), "badge face", 5)
    expect(img, 234, 180, mix(0x799905, 0x536904, 23.25 / 38), "badge face", 5)
    expect(img, 200.5, 176, mix(0xA4D007, 0x536904, 20.25 / 40), "badge rim", 6)
    expect(img, 223, 176.5, 0xFFFFFF, "badge tick", 10)
    expect(img, 196, 176, body_at(176), "left of the badge")
    expect(img, 60, 270, mix(0x799905, 0x536904, 5.25 / 40), "Launch body", 5)
    expect(img, 282, 285, 0x42607E, "Close outline")


def test_error_shows_the_panel_fill_and_outline():
    img = preview("error")
    expect_frame(img, "error")
    expect(img, 42, 200, 0x34181C, "error panel")
    expect(img, 395, 236, 0x34181C, "error panel")
    expect(img, 36, 200, 0x943A40, "error panel outline, left")
    expect(img, 200, 241.5, 0x943A40, "error panel outline, bottom")
    expect(img, 403.5, 200, 0x943A40, "error panel outline, right")
    expect(img, 200, 148, 0x943A40, "error panel outline, top")
    expect(img, 60, 270, mix(0x799905, 0x536904, 5.25 / 40), "Retry body", 5)


def same_pixels(a, b):
    _, _, pa = a
    _, _, pb = b
    return all(pa(x, y) == pb(x, y) for y in range(0, 672, 3) for x in range(0, 880, 3))


def test_the_four_previews_keep_their_bytes():
    lines = [line for line in open(DIGESTS).read().splitlines() if line and line[0] != "#"]
    made_under, recorded = lines[0], dict(line.split() for line in lines[1:])
    here = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    if here != made_under:
        raise harness.Skip(f"the recorded bytes are {made_under}'s and this is {here}: text and "
                           "PNG encoding differ between Wine releases")
    for stage, digest in recorded.items():
        preview(stage)
        with open(os.path.join(WORK, stage + ".png"), "rb") as f:
            got = hashlib.sha256(f.read()).hexdigest()
        assert got == digest, f"--stage {stage}: the PNG's bytes changed ({got})"


def test_a_stage_name_in_other_letter_case_renders_ready():
    ready = preview("ready")
    for name in ("Installing", "DONE", "Error", "foo"):
        code, path = render(name, "case-" + name)
        assert code == 0, f"--stage {name}: exit code {code}"
        assert same_pixels(harness.read_png(path), ready), f"--stage {name} is not the Ready screen"
    code, path = render(None, "no-stage")
    assert code == 0 and same_pixels(harness.read_png(path), ready), "no --stage is not Ready"


def test_a_png_in_a_missing_folder_exits_2_and_writes_nothing():
    missing = os.path.join(WORK, "no-such-folder")
    target = os.path.join(missing, "out.png")
    code = harness.run_wine([EXE, "--render-preview", wine_path(target)]).returncode
    assert code == 2, f"exit code {code}, expected 2"
    assert not os.path.exists(missing), "the folder was created"


if __name__ == "__main__":
    try:
        harness.main([
            test_ready_shows_the_folder_field_both_ticked_boxes_and_the_idle_install_button,
            test_installing_fills_the_bar_to_62_percent,
            test_done_shows_the_badge_with_its_tick,
            test_error_shows_the_panel_fill_and_outline,
            test_the_four_previews_keep_their_bytes,
            test_a_stage_name_in_other_letter_case_renders_ready,
            test_a_png_in_a_missing_folder_exits_2_and_writes_nothing,
        ])
    finally:
        shutil.rmtree(WORK, ignore_errors=True)
