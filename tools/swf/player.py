"""Writes the preview player movie: a Flash 7 movie that plays the FLV named by its
query variable `videofile` through NetConnection/NetStream, sized `w` x `h`, with
play/pause, rewind, a seek bar (click or drag) and a loading bar.

Once the stream has ended it is closed, so Play, rewind and the bar open it again with
play(url). A forward seek lands on a keyframe; past the last one (onMetaData's
lastkeyframetimestamp) the stream would end, so such a seek goes to the last keyframe.
A seek or rewind while paused plays for two frames and pauses again, so that the new
picture shows.

usage: player.py OUTPUT.swf"""

import sys

from swf import (
    SET_BACKGROUND_COLOR,
    SHOW_FRAME,
    And,
    Call,
    Const,
    Do,
    Function,
    If,
    Local,
    New,
    Not,
    Or,
    Return,
    Set,
    Stop,
    Var,
    define_shape3,
    define_sprite,
    define_video_stream,
    do_action,
    movie,
    place_object2,
    tag,
)

BAR_HEIGHT = 28
VIDEO_BASE_W, VIDEO_BASE_H = 160, 120
SCREEN_VIDEO_CODEC = 3


def box(x0, y0, x1, y1):
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]


def characters():
    """Definitions of the video, the shapes and the sprites wrapping them."""
    tags = [
        define_video_stream(1, VIDEO_BASE_W, VIDEO_BASE_H, SCREEN_VIDEO_CODEC),
        define_sprite(2, [place_object2(1, 1, "video")]),
        define_shape3(3, (0x20, 0x26, 0x2E, 0xDC), [box(0, 0, 100, BAR_HEIGHT)]),
        define_shape3(4, (0x3A, 0x45, 0x52, 0xFF), [box(0, 0, 20, 20)]),
        define_shape3(5, (0xFF, 0xFF, 0xFF, 0xFF), [[(7, 5), (15, 10), (7, 15)]]),
        define_shape3(6, (0xFF, 0xFF, 0xFF, 0xFF), [box(6, 5, 9, 15), box(11, 5, 14, 15)]),
        define_shape3(7, (0xFF, 0xFF, 0xFF, 0xFF),
                      [box(5, 5, 7, 15), [(15, 5), (15, 15), (8, 10)]]),
        # Icons are sprites of their own so that the script can show and hide them.
        define_sprite(21, [place_object2(1, 5)]),
        define_sprite(22, [place_object2(1, 6)]),
        define_sprite(8, [place_object2(1, 4), place_object2(2, 21, "playIcon"),
                          place_object2(3, 22, "pauseIcon")]),
        define_sprite(9, [place_object2(1, 4), place_object2(2, 7, "rewindIcon")]),
        define_shape3(10, (0x5A, 0x65, 0x70, 0xFF), [box(0, 0, 100, 6)]),
        define_shape3(11, (0x9A, 0xA5, 0xB0, 0xFF), [box(0, 0, 100, 6)]),
        define_shape3(12, (0x3D, 0x8F, 0xD6, 0xFF), [box(0, 0, 100, 6)]),
        define_shape3(13, (0xFF, 0xFF, 0xFF, 0xFF), [box(0, 0, 6, 16)]),
        define_shape3(14, (0xFF, 0xFF, 0xFF, 0x00), [box(0, 0, 100, 16)]),
        define_sprite(15, [place_object2(1, 3)]),
        define_sprite(16, [place_object2(1, 10)]),
        define_sprite(17, [place_object2(1, 11)]),
        define_sprite(18, [place_object2(1, 12)]),
        define_sprite(19, [place_object2(1, 13)]),
        define_sprite(20, [place_object2(1, 14)]),
    ]
    placements = [
        place_object2(1, 2, "screen"),
        place_object2(2, 15, "controlBar"),
        place_object2(3, 8, "playButton"),
        place_object2(4, 9, "rewindButton"),
        place_object2(5, 16, "seekTrack"),
        place_object2(6, 17, "loadedBar"),
        place_object2(7, 18, "playedBar"),
        place_object2(8, 19, "seekKnob"),
        place_object2(9, 20, "seekArea"),
    ]
    return tags, placements


root = Var("_root")


def clamp01(name):
    return [If(Var(name) < 0, [Local(name, 0)]), If(Var(name) > 1, [Local(name, 1)])]


def script():
    ns = root.ns
    top = root.vh - BAR_HEIGHT
    return [
        Stop(),
        Set(Var("Stage").scaleMode, "noScale"),
        Set(Var("Stage").align, "TL"),
        # The size comes from the page; without it the movie takes the stage's.
        Set(root.vw, Call("Number", root.w)),
        If(Not(root.vw > 0), [Set(root.vw, Var("Stage").width)]),
        Set(root.vh, Call("Number", root.h)),
        If(Not(root.vh > 0), [Set(root.vh, Var("Stage").height)]),
        Set(root.screen._xscale, root.vw * 100 / VIDEO_BASE_W),
        Set(root.screen._yscale, root.vh * 100 / VIDEO_BASE_H),
        # Control bar along the bottom edge, over the picture.
        Set(root.controlBar._y, top),
        Set(root.controlBar._xscale, root.vw),
        Set(root.playButton._x, 4),
        Set(root.playButton._y, top + 4),
        Set(root.rewindButton._x, 28),
        Set(root.rewindButton._y, top + 4),
        Set(root.trackX, 56),
        Set(root.trackW, root.vw - 64),
        If(root.trackW < 10, [Set(root.trackW, 10)]),
        Set(root.seekTrack._x, root.trackX),
        Set(root.seekTrack._y, top + 11),
        Set(root.seekTrack._xscale, root.trackW),
        Set(root.loadedBar._x, root.trackX),
        Set(root.loadedBar._y, top + 11),
        Set(root.loadedBar._xscale, 0),
        Set(root.playedBar._x, root.trackX),
        Set(root.playedBar._y, top + 11),
        Set(root.playedBar._xscale, 0),
        Set(root.seekKnob._x, root.trackX - 3),
        Set(root.seekKnob._y, top + 6),
        Set(root.seekArea._x, root.trackX),
        Set(root.seekArea._y, top + 6),
        Set(root.seekArea._xscale, root.trackW),
        Set(root.dur, 0),
        Set(root.paused, False),
        Set(root.ended, False),
        Set(root.dragging, False),
        Set(root.dragFrac, 0),
        Set(root.lastKey, -1),
        Set(root.repause, 0),
        Set(root.pendingSeek, -1),
        Set(root.src, ""),

        # Play/pause icons follow the state.
        Set(root.showIcons, Function([], [
            Set(root.playButton.playIcon._visible, root.paused),
            Set(root.playButton.pauseIcon._visible, Not(root.paused)),
        ])),
        # Played part and knob at a fraction of the duration.
        Set(root.showPosition, Function(["f"], [
            Set(root.playedBar._xscale, root.trackW * Var("f")),
            Set(root.seekKnob._x, root.trackX + root.trackW * Var("f") - 3),
        ])),
        # Fraction under the mouse while the seek bar is held.
        Set(root.dragTo, Function([], [
            Local("f", (root._xmouse - root.trackX) / root.trackW),
            *clamp01("f"),
            Set(root.dragFrac, Var("f")),
            Do(root.call("showPosition", Var("f"))),
        ])),
        # Where a seek to fraction f may go: not past the last keyframe.
        Set(root.seekTime, Function(["f"], [
            Local("t", Var("f") * root.dur),
            If(And(root.lastKey > -1, Var("t") > root.lastKey), [Local("t", root.lastKey)]),
            Return(Var("t")),
        ])),
        # The stream again from the start after it ended (then an optional seek).
        Set(root.reopen, Function(["t"], [
            Set(root.ended, False),
            Set(root.paused, False),
            Set(root.repause, 0),
            Do(ns.call("play", root.src)),
            If(Var("t") > 0, [Set(root.pendingSeek, Var("t"))]),
        ])),
        Set(root.seekFrac, Function(["f"], [
            If(root.ended, [Do(root.call("reopen", root.call("seekTime", Var("f"))))], [
                If(root.dur > 0, [Do(ns.call("seek", root.call("seekTime", Var("f"))))]),
                If(root.paused, [
                    Do(ns.call("pause", False)),
                    Set(root.repause, 2),
                ]),
            ]),
            Do(root.call("showIcons")),
        ])),

        # The stream: progressive play of the FLV over a null connection.
        Set(root.nc, New("NetConnection")),
        Do(root.nc.call("connect", None)),
        Set(root.ns, New("NetStream", root.nc)),
        Do(ns.call("setBufferTime", 1)),
        Do(root.screen.video.call("attachVideo", ns)),
        Set(ns.onMetaData, Function(["info"], [
            If(Var("info").duration > 0, [Set(root.dur, Call("Number", Var("info").duration))]),
            # Seconds, or milliseconds where it exceeds the duration.
            Local("lk", Call("Number", Var("info").lastkeyframetimestamp)),
            If(Var("lk") > -1, [
                If(And(root.dur > 0, Var("lk") > root.dur), [Local("lk", Var("lk") / 1000)]),
                Set(root.lastKey, Var("lk")),
            ]),
        ])),
        Set(ns.onStatus, Function(["info"], [
            If(Var("info").code.eq("NetStream.Play.Stop"), [
                Set(root.ended, True),
                Set(root.paused, True),
                Do(root.call("showIcons")),
            ]),
        ])),

        Set(root.playButton.onRelease, Function([], [
            If(root.ended, [Do(root.call("reopen", 0))], [
                Set(root.repause, 0),
                If(root.paused, [
                    Set(root.paused, False),
                    Do(ns.call("pause", False)),
                ], [
                    Set(root.paused, True),
                    Do(ns.call("pause", True)),
                ]),
            ]),
            Do(root.call("showIcons")),
        ])),
        Set(root.rewindButton.onRelease, Function([], [
            If(root.ended, [
                Do(root.call("reopen", 0)),
                Set(root.paused, True),
                Set(root.repause, 2),
            ], [
                Do(ns.call("seek", 0)),
                If(root.paused, [
                    Do(ns.call("pause", False)),
                    Set(root.repause, 2),
                ]),
            ]),
            Do(root.call("showPosition", 0)),
            Do(root.call("showIcons")),
        ])),
        Set(root.seekArea.onPress, Function([], [
            Set(root.dragging, True),
            Do(root.call("dragTo")),
        ])),
        Set(root.seekArea.onRelease, Function([], [
            Set(root.dragging, False),
            Do(root.call("dragTo")),
            Do(root.call("seekFrac", root.dragFrac)),
        ])),
        Set(root.seekArea.onReleaseOutside, root.seekArea.onRelease),

        Set(root.onEnterFrame, Function([], [
            # A seek or rewind while paused: pause again once the picture has moved.
            If(root.repause > 0, [
                Set(root.repause, root.repause - 1),
                If(root.repause < 1, [Do(ns.call("pause", True))]),
            ]),
            If(And(root.pendingSeek > -1, ns.time > 0), [
                Do(ns.call("seek", root.pendingSeek)),
                Set(root.pendingSeek, -1),
            ]),
            If(root.dragging, [Do(root.call("dragTo"))], [
                If(root.dur > 0, [
                    Local("f", ns.time / root.dur),
                    *clamp01("f"),
                    Do(root.call("showPosition", Var("f"))),
                ]),
            ]),
            If(ns.bytesTotal > 0, [
                Set(root.loadedBar._xscale, root.trackW * ns.bytesLoaded / ns.bytesTotal),
            ]),
        ])),
        Do(root.call("showIcons")),

        # The file: a Windows path becomes a file URL; characters that would end the
        # path part of a URL are escaped. A URL is played as it is.
        Local("src", root.videofile),
        If(And(Not(Var("src").eq(Const(None))), Not(Var("src").eq(""))), [
            If(Var("src").call("indexOf", "://") < 0, [
                Local("src", Var("src").call("split", "%").call("join", "%25")),
                Local("src", Var("src").call("split", "#").call("join", "%23")),
                Local("src", Var("src").call("split", "?").call("join", "%3F")),
                Local("drive", Var("src").call("charAt", 1).eq(":")),
                Local("unc", Var("src").call("substr", 0, 2).eq("\\\\")),
                If(Or(Var("drive"), Var("unc")), [
                    Local("src", Var("src").call("split", "\\").call("join", "/")),
                    Local("src", Var("src").call("split", " ").call("join", "%20")),
                    If(Var("drive"), [Local("src", Const("file:///") + Var("src"))],
                       [Local("src", Const("file:") + Var("src"))]),
                ]),
            ]),
            Set(root.src, Var("src")),
            Do(ns.call("play", root.src)),
        ]),
    ]


def build():
    tags, placements = characters()
    body = [tag(SET_BACKGROUND_COLOR, bytes([0xFF, 0xFF, 0xFF]))] + tags + placements
    body += [do_action(script()), tag(SHOW_FRAME, b"")]
    return movie(7, 320, 240, 24, body)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    data = build()
    with open(argv[1], "wb") as out:
        out.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
