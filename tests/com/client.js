// JScript as a client of Zul.Object: values, JScript arrays, objects, and failures caught as exceptions.
// Objects go when collected, so the suite collects before its end.
var passed = 0, failed = 0, kFail = 0x80004005;

function check(label, actual, expected) {
  if (actual === expected) return ++passed;
  ++failed;
  WScript.Echo("FAIL " + label + ": got " + typeof actual + " " + actual + ", expected " + typeof expected + " " + expected);
}

// The exception that call throws: its number (as an unsigned HRESULT) and description.
function checkThrows(label, call, number, description) {
  try {
    call();
    check(label, "0 no exception", number.toString(16) + " " + description);
  } catch (e) {
    check(label, (e.number >>> 0).toString(16) + " " + e.description, number.toString(16) + " " + description);
  }
}

function newObject(className) {
  var o = new ActiveXObject("Zul.Object");
  o.Init(className);
  return o;
}

function group(name, body) {
  checkThrows(name + " stopped", body, 0, "no exception");
}

group("values", function () {
  var e = newObject("Echo"), t = newObject("Text");
  check("numbers as ZUL sees them", [e.TypeName(42), e.TypeName(2.5), e.TypeName(4294967296), e.TypeName(true)].join(),
        "LONG,DOUBLE,DOUBLE,BYTE");
  e.Execute("big = [2147483648 + 1, 2147483648 - 1, 9007199254740991]");
  var big = new VBArray(e.GetVariable("big")).toArray();  // 2^53 - 1 is exact, though printed to 15 digits
  check("64-bit whole numbers", big[0] + "|" + big[1] + "|" + (big[2] - 9007199254740990), "2147483649|2147483647|1");
  var text = "na\u00efve caf\u00e9 \u20ac5";
  check("Windows-1252 text back", e.Echo(text) + t.Length(text) + e.Echo("\u4e2d") + e.Echo(""), text + "13?");
});

group("objects", function () {
  var e = newObject("Echo"), t = newObject("Text");
  check("Zul.Object and JScript arrays as arguments", e.TypeName(t) + " " + e.TypeName([[1, 2, 3], [4, 5, 6]]) + " " +
        e.TypeName([t, e, t]), "OBJREF LONG[3,2] OBJREF[3]");
  checkThrows("object handed back", function () { e.Echo(t); }, kFail,
              "Object references must be in-only (constant).  They cannot be returned.");
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
});

group("calls", function () {
  var e = newObject("Echo");
  checkThrows("unknown property", function () { return e.Size; }, kFail, "Echo has no property 'Size'.");
  var a = 1, b = 2;  // JScript passes values, never variables
  checkThrows("Swap of values", function () { e.Swap(a, b); }, kFail,
              "Echo.Swap: argument 1 must be passed by reference (flag 0x0002).");
  e.SetVariable("v", [[1, 2], [3, 4]]);
  e.Execute("print, 'js', v");
  e.Execute("notify, 'ready', 2.5");
  check("output and notifications", e.Output + e.Notifications, "js [[1, 2], [3, 4]]\r\nready\t2.5\r\n");
  checkThrows("Init twice", function () { e.Init("Echo"); }, 0x8000FFFF, "Init has already been called on this Zul.Object.");
});

CollectGarbage();
check("Zul.Object instances and server locks left", new ActiveXObject("Zul.Object").ModuleUsers, 0);
WScript.Echo(passed + " passed, " + failed + " failed");
