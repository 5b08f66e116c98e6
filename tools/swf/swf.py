"""A small writer of Flash movies: tags, shapes, sprites, a video object and an AVM1
action compiler for a tiny expression language. Python 3 standard library only."""

import struct
import zlib

TWIPS = 20


# ---------------------------------------------------------------- bits and records

class BitWriter:
    def __init__(self):
        self.data = bytearray()
        self.acc = 0
        self.nbits = 0

    def ub(self, value, bits):
        if value < 0 or value >= (1 << bits) and bits > 0:
            raise ValueError("value %d does not fit %d unsigned bits" % (value, bits))
        for i in range(bits - 1, -1, -1):
            self.acc = (self.acc << 1) | ((value >> i) & 1)
            self.nbits += 1
            if self.nbits == 8:
                self.data.append(self.acc)
                self.acc = 0
                self.nbits = 0

    def sb(self, value, bits):
        if bits and not -(1 << (bits - 1)) <= value < (1 << (bits - 1)):
            raise ValueError("value %d does not fit %d signed bits" % (value, bits))
        self.ub(value & ((1 << bits) - 1), bits)

    def align(self):
        if self.nbits:
            self.ub(0, 8 - self.nbits)

    def bytes(self):
        self.align()
        return bytes(self.data)


def signed_bits(*values):
    bits = 1
    for v in values:
        while not -(1 << (bits - 1)) <= v < (1 << (bits - 1)):
            bits += 1
    return bits


def rect(xmin, xmax, ymin, ymax):
    bits = signed_bits(xmin, xmax, ymin, ymax)
    w = BitWriter()
    w.ub(bits, 5)
    for v in (xmin, xmax, ymin, ymax):
        w.sb(v, bits)
    return w.bytes()


def matrix(tx=0, ty=0):
    w = BitWriter()
    w.ub(0, 1)  # no scale
    w.ub(0, 1)  # no rotation
    if tx == 0 and ty == 0:
        w.ub(0, 5)
    else:
        bits = signed_bits(tx, ty)
        w.ub(bits, 5)
        w.sb(tx, bits)
        w.sb(ty, bits)
    return w.bytes()


def u16(v):
    return struct.pack("<H", v)


def cstring(s):
    data = s.encode("utf-8")
    if b"\0" in data:
        raise ValueError("string holds a terminator")
    return data + b"\0"


def tag(code, body):
    if len(body) < 0x3F:
        return u16((code << 6) | len(body)) + body
    return u16((code << 6) | 0x3F) + struct.pack("<I", len(body)) + body


# Tag codes.
END, SHOW_FRAME, DO_ACTION, SET_BACKGROUND_COLOR = 0, 1, 12, 9
PLACE_OBJECT2, DEFINE_SHAPE3, DEFINE_SPRITE, DEFINE_VIDEO_STREAM = 26, 32, 39, 60


def place_object2(depth, character, name=None, tx=0, ty=0):
    flags = 0x02 | 0x04  # character and matrix
    if name is not None:
        flags |= 0x20
    body = bytes([flags]) + u16(depth) + u16(character) + matrix(tx * TWIPS, ty * TWIPS)
    if name is not None:
        body += cstring(name)
    return tag(PLACE_OBJECT2, body)


def define_shape3(shape_id, rgba, polygons):
    """A shape filled with one colour: each polygon is a list of (x, y) points in
    pixels, closed back to its first point."""
    xs = [x for poly in polygons for x, _ in poly]
    ys = [y for poly in polygons for _, y in poly]
    bounds = rect(min(xs) * TWIPS, max(xs) * TWIPS, min(ys) * TWIPS, max(ys) * TWIPS)
    body = bytearray(u16(shape_id) + bounds)
    body += bytes([1, 0x00]) + bytes(rgba)  # one solid fill (RGBA)
    body += bytes([0])  # no line styles
    w = BitWriter()
    w.ub(1, 4)  # fill index bits
    w.ub(0, 4)  # line index bits
    first = True
    for poly in polygons:
        sx, sy = poly[0][0] * TWIPS, poly[0][1] * TWIPS
        # Style change: move to the start, with fill style 1 on the first one.
        w.ub(0, 1)
        w.ub(0, 1)  # new styles
        w.ub(0, 1)  # line style
        w.ub(0, 1)  # fill style 1
        w.ub(1 if first else 0, 1)  # fill style 0
        w.ub(1, 1)  # move to
        bits = signed_bits(sx, sy)
        w.ub(bits, 5)
        w.sb(sx, bits)
        w.sb(sy, bits)
        if first:
            w.ub(1, 1)
        first = False
        x, y = sx, sy
        for px, py in poly[1:] + poly[:1]:
            dx, dy = px * TWIPS - x, py * TWIPS - y
            x, y = px * TWIPS, py * TWIPS
            bits = max(signed_bits(dx, dy), 2)
            w.ub(1, 1)  # edge
            w.ub(1, 1)  # straight
            w.ub(bits - 2, 4)
            w.ub(1, 1)  # general line
            w.sb(dx, bits)
            w.sb(dy, bits)
    w.ub(0, 6)  # end of shape
    body += w.bytes()
    return tag(DEFINE_SHAPE3, bytes(body))


def define_sprite(sprite_id, control_tags, frames=1):
    body = u16(sprite_id) + u16(frames) + b"".join(control_tags)
    body += tag(SHOW_FRAME, b"") * frames + tag(END, b"")
    return tag(DEFINE_SPRITE, body)


def define_video_stream(video_id, width, height, codec, smoothing=True):
    flags = 1 if smoothing else 0
    return tag(DEFINE_VIDEO_STREAM,
               u16(video_id) + u16(0) + u16(width) + u16(height) + bytes([flags, codec]))


def movie(version, width, height, frame_rate, tags, frame_count=1):
    """A compressed movie ("CWS"): the tags must include the ShowFrame tags."""
    body = rect(0, width * TWIPS, 0, height * TWIPS)
    body += struct.pack("<H", int(round(frame_rate * 256))) + u16(frame_count)
    body += b"".join(tags) + tag(END, b"")
    length = 8 + len(body)
    return b"CWS" + bytes([version]) + struct.pack("<I", length) + zlib.compress(body, 9)


# ---------------------------------------------------------------- AVM1 actions

# Action codes used below.
A_END, A_STOP, A_NOT, A_POP = 0x00, 0x07, 0x12, 0x17
A_SUBTRACT, A_MULTIPLY, A_DIVIDE = 0x0B, 0x0C, 0x0D
A_GET_VARIABLE, A_SET_VARIABLE, A_DEFINE_LOCAL, A_CALL_FUNCTION = 0x1C, 0x1D, 0x3C, 0x3D
A_RETURN, A_NEW_OBJECT, A_ADD2, A_LESS2, A_EQUALS2 = 0x3E, 0x40, 0x47, 0x48, 0x49
A_PUSH_DUPLICATE, A_GET_MEMBER, A_SET_MEMBER, A_CALL_METHOD = 0x4C, 0x4E, 0x4F, 0x52
A_STRICT_EQUALS, A_GREATER, A_INIT_OBJECT = 0x66, 0x67, 0x43
A_PUSH, A_JUMP, A_IF, A_DEFINE_FUNCTION = 0x96, 0x99, 0x9D, 0x9B

BINARY = {"+": A_ADD2, "-": A_SUBTRACT, "*": A_MULTIPLY, "/": A_DIVIDE, "<": A_LESS2,
          ">": A_GREATER, "==": A_EQUALS2, "===": A_STRICT_EQUALS}

UNDEFINED = object()


class Label:
    pass


class Asm:
    """A list of actions whose jumps are resolved when assembled."""

    def __init__(self):
        self.items = []  # (code, payload bytes) or ("jump", code, Label) or Label

    def op(self, code, payload=None):
        self.items.append((code, payload))

    def jump(self, code, label):
        self.items.append(("jump", code, label))

    def mark(self, label):
        self.items.append(label)

    def push(self, value):
        if value is None:
            item = b"\x02"
        elif value is UNDEFINED:
            item = b"\x03"
        elif isinstance(value, bool):
            item = b"\x05" + bytes([1 if value else 0])
        elif isinstance(value, int) and -(1 << 31) <= value < (1 << 31):
            item = b"\x07" + struct.pack("<i", value)
        elif isinstance(value, (int, float)):
            d = struct.pack("<d", float(value))
            item = b"\x06" + d[4:] + d[:4]
        elif isinstance(value, str):
            item = b"\x00" + cstring(value)
        else:
            raise TypeError(value)
        self.op(A_PUSH, item)


# Expressions: each emits code that leaves one value on the stack.

class Expr:
    def __add__(self, other):
        return Op("+", self, lift(other))

    def __sub__(self, other):
        return Op("-", self, lift(other))

    def __mul__(self, other):
        return Op("*", self, lift(other))

    def __truediv__(self, other):
        return Op("/", self, lift(other))

    def __lt__(self, other):
        return Op("<", self, lift(other))

    def __gt__(self, other):
        return Op(">", self, lift(other))

    def eq(self, other):
        return Op("==", self, lift(other))

    def __getattr__(self, name):
        if name.startswith("__"):
            raise AttributeError(name)
        return Member(self, name)

    def call(self, method, *args):
        return MethodCall(self, method, [lift(a) for a in args])


def lift(value):
    return value if isinstance(value, Expr) else Const(value)


class Const(Expr):
    def __init__(self, value):
        self.value = value

    def emit(self, asm):
        asm.push(self.value)


class Var(Expr):
    def __init__(self, name):
        self.name = name

    def emit(self, asm):
        asm.push(self.name)
        asm.op(A_GET_VARIABLE)


class Member(Expr):
    def __init__(self, obj, name):
        self.obj = obj
        self.name = name

    def emit(self, asm):
        self.obj.emit(asm)
        asm.push(self.name)
        asm.op(A_GET_MEMBER)


class Op(Expr):
    def __init__(self, op, a, b):
        self.code, self.a, self.b = BINARY[op], a, b

    def emit(self, asm):
        self.a.emit(asm)
        self.b.emit(asm)
        asm.op(self.code)


class Not(Expr):
    def __init__(self, a):
        self.a = lift(a)

    def emit(self, asm):
        self.a.emit(asm)
        asm.op(A_NOT)


class And(Expr):
    def __init__(self, a, b):
        self.a, self.b = lift(a), lift(b)

    def emit(self, asm):
        done = Label()
        self.a.emit(asm)
        asm.op(A_PUSH_DUPLICATE)
        asm.op(A_NOT)
        asm.jump(A_IF, done)
        asm.op(A_POP)
        self.b.emit(asm)
        asm.mark(done)


class Or(Expr):
    def __init__(self, a, b):
        self.a, self.b = lift(a), lift(b)

    def emit(self, asm):
        done = Label()
        self.a.emit(asm)
        asm.op(A_PUSH_DUPLICATE)
        asm.jump(A_IF, done)
        asm.op(A_POP)
        self.b.emit(asm)
        asm.mark(done)


def emit_args(asm, args):
    for a in reversed(args):
        a.emit(asm)
    asm.push(len(args))


class Call(Expr):
    def __init__(self, name, *args):
        self.name, self.args = name, [lift(a) for a in args]

    def emit(self, asm):
        emit_args(asm, self.args)
        asm.push(self.name)
        asm.op(A_CALL_FUNCTION)


class MethodCall(Expr):
    def __init__(self, obj, method, args):
        self.obj, self.method, self.args = obj, method, args

    def emit(self, asm):
        emit_args(asm, self.args)
        self.obj.emit(asm)
        asm.push(self.method)
        asm.op(A_CALL_METHOD)


class New(Expr):
    def __init__(self, name, *args):
        self.name, self.args = name, [lift(a) for a in args]

    def emit(self, asm):
        emit_args(asm, self.args)
        asm.push(self.name)
        asm.op(A_NEW_OBJECT)


class Function(Expr):
    """An anonymous function (DefineFunction): parameters are locals by name."""

    def __init__(self, params, body):
        self.params, self.body = params, body

    def emit(self, asm):
        inner = compile_block(self.body)
        payload = cstring("") + u16(len(self.params))
        payload += b"".join(cstring(p) for p in self.params) + u16(len(inner))
        asm.op(A_DEFINE_FUNCTION, payload)
        asm.items.append((None, inner))  # the body follows the definition as it is


# Statements.

class Set:
    def __init__(self, target, value):
        self.target, self.value = target, lift(value)

    def emit(self, asm):
        if isinstance(self.target, str):
            asm.push(self.target)
            self.value.emit(asm)
            asm.op(A_SET_VARIABLE)
        else:
            self.target.obj.emit(asm)
            asm.push(self.target.name)
            self.value.emit(asm)
            asm.op(A_SET_MEMBER)


class Local:
    def __init__(self, name, value):
        self.name, self.value = name, lift(value)

    def emit(self, asm):
        asm.push(self.name)
        self.value.emit(asm)
        asm.op(A_DEFINE_LOCAL)


class Do:
    def __init__(self, expr):
        self.expr = expr

    def emit(self, asm):
        self.expr.emit(asm)
        asm.op(A_POP)


class If:
    def __init__(self, cond, then, otherwise=()):
        self.cond, self.then, self.otherwise = lift(cond), list(then), list(otherwise)

    def emit(self, asm):
        other, done = Label(), Label()
        self.cond.emit(asm)
        asm.op(A_NOT)
        asm.jump(A_IF, other)
        for s in self.then:
            s.emit(asm)
        if self.otherwise:
            asm.jump(A_JUMP, done)
        asm.mark(other)
        for s in self.otherwise:
            s.emit(asm)
        asm.mark(done)


class Return:
    def __init__(self, value):
        self.value = lift(value)

    def emit(self, asm):
        self.value.emit(asm)
        asm.op(A_RETURN)


class Stop:
    def emit(self, asm):
        asm.op(A_STOP)


def compile_block(statements):
    asm = Asm()
    for s in statements:
        s.emit(asm)
    return assemble(asm)


def assemble(asm):
    """Resolves the jumps. Function bodies are raw byte items (code None) that are
    copied as they are and counted at their real size."""
    items, raws = [], {}
    for item in asm.items:
        if not isinstance(item, Label) and item[0] is None:
            label = Label()
            raws[label] = item[1]
            items.append(label)
        else:
            items.append(item)
    sizes = []
    for item in items:
        if isinstance(item, Label):
            sizes.append(len(raws.get(item, b"")))
        elif item[0] == "jump":
            sizes.append(5)
        else:
            sizes.append(1 if item[1] is None else 3 + len(item[1]))
    positions, where = {}, 0
    for item, size in zip(items, sizes, strict=True):
        if isinstance(item, Label):
            positions[item] = where
        where += size
    out, where = bytearray(), 0
    for item, size in zip(items, sizes, strict=True):
        where += size
        if isinstance(item, Label):
            out += raws.get(item, b"")
        elif item[0] == "jump":
            out += bytes([item[1]]) + u16(2) + struct.pack("<h", positions[item[2]] - where)
        elif item[1] is None:
            out.append(item[0])
        else:
            out += bytes([item[0]]) + u16(len(item[1])) + item[1]
    return bytes(out)


def do_action(statements):
    return tag(DO_ACTION, compile_block(statements) + bytes([A_END]))
