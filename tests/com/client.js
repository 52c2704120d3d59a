// JScript as a client of Zul.Object: numbers, strings and objects as arguments, arrays from ZUL, and
// failures caught as exceptions.
var passed = 0;
var failed = 0;
var kFail = 0x80004005;

function check(label, actual, expected) {
  if (actual === expected) {
    ++passed;
  } else {
    ++failed;
    WScript.Echo("FAIL " + label + ": got " + typeof actual + " " + actual + ", expected " + typeof expected + " " +
                 expected);
  }
}

// The exception that call throws: its number (as an unsigned HRESULT) and description.
function checkThrows(label, call, number, description) {
  try {
    call();
  } catch (e) {
    check(label + " (number)", e.number >>> 0, number);
    check(label + " (description)", e.description, description);
    return;
  }
  check(label + " throws", "no exception", description);
}

function newObject(className, procName) {
  var o = new ActiveXObject("Zul.Object");
  if (procName) o.ProcName = procName;
  o.Init(className);
  return o;
}

function group(name, body) {
  try {
    body();
  } catch (e) {
    ++failed;
    WScript.Echo("FAIL " + name + " stopped: " + (e.number >>> 0).toString(16) + " " + e.description);
  }
}

group("numbers", function () {
  var e = newObject("Echo");
  check("integer seen by ZUL", e.TypeName(42), "LONG");
  check("fraction seen by ZUL", e.TypeName(2.5), "DOUBLE");
  check("integer beyond 32 bits", e.TypeName(4294967296), "DOUBLE");
  check("boolean seen by ZUL", e.TypeName(true), "BYTE");
  check("integer back", e.Echo(-2147483648), -2147483648);
  check("fraction back", e.Echo(0.1 + 0.2), 0.1 + 0.2);
  check("boolean back", e.Echo(true), 1);
  check("arithmetic in ZUL", e.Echo(7) * e.Echo(6), 42);
  e.Execute("big = [2147483648 + 1, 2147483648 - 1, 9007199254740991]");
  var big = new VBArray(e.GetVariable("big")).toArray();  // 2^53 - 1 is exact, though printed to 15 digits
  check("64-bit whole numbers", big[0] + "|" + big[1] + "|" + (big[2] - 9007199254740990), "2147483649|2147483647|1");
});

group("strings", function () {
  var e = newObject("Echo");
  var t = newObject("Text");
  var text = "na\u00efve caf\u00e9 \u20ac5";
  check("string back", e.Echo(text), text);
  check("one byte per Windows-1252 character", t.Length(text), 13);
  check("upper case of a to z only", t.Upper(text), "NA\u00efVE CAF\u00e9 \u20ac5");
  check("character outside Windows-1252", e.Echo("\u4e2d"), "?");
  check("empty string", e.Echo(""), "");
  var parts = t.Split("a,b,c", ",");
  check("array from ZUL", new VBArray(parts).toArray().join("|"), "a|b|c");
  check("array back to ZUL", t.Join(parts, "-"), "a-b-c");
});

group("objects", function () {
  var e = newObject("Echo");
  var t = newObject("Text");
  check("Zul.Object as an argument", e.TypeName(t), "OBJREF");
  check("Cookie", t.Cookie > 0 && t.Cookie !== e.Cookie, true);
  check("ClassName", t.ClassName, "Text");
  checkThrows("object handed back", function () { e.Echo(t); }, kFail,
              "Object references must be in-only (constant).  They cannot be returned.");
  check("JScript arrays", e.TypeName([[1, 2, 3], [4, 5, 6]]) + " " + e.TypeName([t, e, t]), "LONG[3,2] OBJREF[3]");
  var m = new ActiveXObject("Zul.Object");
  m.Init("Matrix", [[1, 2, 3], [4, 5, 6]]);
  var data = new VBArray(m.Data);
  check("Matrix from JScript", m.Rows + "x" + m.Cols + " " + data.getItem(0, 2) + data.getItem(1, 0), "3x2 34");
  var ragged = [[[[1, 2], [3]], "[1] has 1 element, but [0] has 2 elements"],
                [[[1], 2], "[1] is not an array, but [0] has 1 element"],
                [[[1, [2]]], "[0][1] has 1 element, but [0][0] is not an array"]];
  for (var i = 0; i < ragged.length; ++i) {
    checkThrows("ragged " + i, function () { e.TypeName(ragged[i][0]); }, 0x80070057,
                "Argument 1 is a ragged array: " + ragged[i][1] + ".");
  }
  var other = newObject("Echo", "js");
  check("ProcName", other.ProcName, "js");
  checkThrows("object of another process", function () { other.TypeName(t); }, kFail,
              "Wrapper " + t.Cookie + " belongs to the default ZUL process, not to ZUL process 'js'.");
});

group("calls", function () {
  var e = newObject("Echo");
  checkThrows("unknown method", function () { e.Invert(); }, kFail, "Echo has no method 'Invert'.");
  checkThrows("unknown property", function () { return e.Size; }, kFail, "Echo has no property 'Size'.");
  // JScript passes values, never variables.
  var a = 1, b = 2;
  checkThrows("Swap of values", function () { e.Swap(a, b); }, kFail,
              "Echo.Swap: argument 1 must be passed by reference (flag 0x0002).");
  e.SetVariable("x", 2.5);
  e.SetVariable("v", [[1, 2], [3, 4]]);
  e.Execute("print, x * 2, 'js', v");
  check("command output", e.Output, "5 js [[1, 2], [3, 4]]\r\n");
  e.Execute("notify, 'ready', x");
  check("notification", e.Notifications, "ready\t2.5\r\n");
  check("variable", e.GetVariable("x"), 2.5);
  checkThrows("Init twice", function () { e.Init("Echo"); }, 0x8000FFFF,
              "Init has already been called on this Zul.Object.");
});

WScript.Echo(passed + " passed, " + failed + " failed");
