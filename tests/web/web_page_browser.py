#!/usr/bin/python3
"""The web page in a real browser: headless Chromium driven through its WebDriver opens the
page quelvand serves for a simulated board, at a phone's size and a desktop's, enters the
token, switches the mode, moves a channel slider and checks the board's value through the
service, and takes screenshots. At the phone's size it checks the day program's legend,
its labels' size, dashes for channels of one colour and the sliders' colours; changes made
by quelvanctl (weather, names, day program) must reach the open page within two seconds; and
with the service stopped, the page disables every control and says since when its values
are old. Any error on the page's console fails the test.

    web_page_browser.py QUELVAND QUELVANCTL ARTIFACT_DIR
"""
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

QUELVAND, QUELVANCTL, ARTIFACTS = sys.argv[1:4]
SIZES = [(360, 740), (1280, 800)]


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(what, predicate, seconds=15):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


def board_status(env):
    out = subprocess.run([QUELVANCTL, "--service", "--json", "status"], env=env, capture_output=True,
                         text=True, timeout=20)
    assert out.returncode == 0, out.stderr
    return json.loads(out.stdout)


def connectable(port):
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        return s.connect_ex(("127.0.0.1", port)) == 0


def start_browser(scratch, options):
    """ChromeDriver on a loopback port of our own, reached by address: the driver library's
    own start-up looks for it under the name localhost, which a minimal system without
    /etc/hosts cannot resolve."""
    port = free_port()
    log = open(os.path.join(scratch, "chromedriver.log"), "w")
    process = subprocess.Popen([shutil.which("chromedriver") or "/usr/bin/chromedriver", f"--port={port}"],
                               stdout=log, stderr=subprocess.STDOUT)
    try:
        wait_for("chromedriver", lambda: process.poll() is None and connectable(port))
        return process, webdriver.Remote(command_executor=f"http://127.0.0.1:{port}", options=options)
    except BaseException:
        process.kill()
        process.wait()
        raise


def run_ctl(env, *args):
    out = subprocess.run([QUELVANCTL, "--service", *args], env=env, capture_output=True, text=True, timeout=30)
    assert out.returncode == 0, f"quelvanctl {' '.join(args)}: {out.stderr}"
    return out.stdout


def check_phone_graph(driver):
    """The legend names every channel; no label smaller than 12 CSS px; channels of one colour
    have different dashes; each slider is in its channel's colour."""
    WebDriverWait(driver, 10).until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#legend li")) == 12)
    # Read in one go: the live page draws the legend anew at every status event, so an element
    # found a moment ago may be gone when its text is asked for.
    legend, names = driver.execute_script("""
        const texts = (selector) => [...document.querySelectorAll(selector)].map((e) => e.innerText.trim());
        return [texts("#legend li"), texts("#channels label")];""")
    assert legend == names, (legend, names)
    sizes = driver.execute_script("""
        const g = document.getElementById("graph"), scale = g.getBoundingClientRect().width / g.viewBox.baseVal.width;
        const size = (e, s) => parseFloat(getComputedStyle(e).fontSize) * s;
        return [...g.querySelectorAll("text")].map((e) => size(e, scale))
            .concat([...document.querySelectorAll("#legend li, #channels label")].map((e) => size(e, 1)));""")
    assert len(sizes) > 20 and min(sizes) >= 12, f"label sizes in CSS px: {sorted(sizes)[:5]}"
    lines = driver.execute_script("""
        return [...document.querySelectorAll("#graph polyline")].map((p) =>
            [p.getAttribute("stroke"), p.getAttribute("stroke-dasharray") || ""]);""")
    seen = {}
    for stroke, dash in lines:
        assert dash not in seen.setdefault(stroke, set()), f"two channels in {stroke} drawn alike: {lines}"
        seen[stroke].add(dash)
    sliders = driver.execute_script("""
        const hex = (c) => { const n = parseInt(c.slice(1), 16); return `rgb(${n >> 16}, ${(n >> 8) & 255}, ${n & 255})`; };
        return state.schedule.channels.map((c, i) =>
            [getComputedStyle(document.getElementById("trb" + i)).accentColor, hex(c.color)]);""")
    assert all(got == want for got, want in sliders), f"slider colours: {sliders}"
    return lines


def check_live(driver, env, scratch):
    """What quelvanctl changes reaches the open page within two seconds."""
    run_ctl(env, "weather", "set", "--clouds-per-day", "9")
    wait_for("the weather on the page", lambda: driver.find_element(By.ID, "cloudsPerDay").text == "9", 2)
    labels = lambda: driver.execute_script(
        "return [...document.querySelectorAll('#channels label')].map((e) => e.innerText.trim());")
    first = labels()[0]
    run_ctl(env, "config", "set", "Names.ColorName1", "1")
    wait_for("channel B's new name on the page", lambda: labels()[1] == first, 2)
    table = os.path.join(scratch, "table.ini")
    run_ctl(env, "export", table)
    text = open(table).read()
    start = text.index("[1]\n")
    text = text[:start] + re.sub(r"Color0=\d+", "Color0=77", text[start:], count=1)
    open(table, "w").write(text)
    run_ctl(env, "import", "table", table)
    wait_for("the new day program on the page", lambda: driver.execute_script(
        "return state.schedule && state.schedule.entries.some((e) => e.channels[0] === 77)"), 2)
    # Two channels in one colour now: told apart by their dashes, in the graph and the legend.
    lines = check_phone_graph(driver)
    assert lines[0][0] == lines[1][0] and lines[0][1] != lines[1][1], lines[:2]


def check_stale(driver):
    """A board the service could not read for a while is shown greyed, with its last read."""
    # The live page redraws at every status event, so the stale state is drawn and read in one
    # script: an event arriving between two calls would otherwise clear it again.
    shown = driver.execute_script(
        "showStatus(Object.assign({}, state.status, {stale: true, last_read: '2026-12-09T10:00:00Z'}));"
        "const note = document.getElementById('staleNote');"
        "return [document.getElementById('app').className, note.offsetParent !== null, note.textContent];")
    assert "stale" in shown[0], shown
    assert shown[1] and "2026" in shown[2], shown
    hidden = driver.execute_script(
        "showStatus(Object.assign({}, state.status, {stale: false}));"
        "return document.getElementById('staleNote').offsetParent === null;")
    assert hidden, "the stale note stays after a fresh read"


def check_offline(driver, stop, start):
    """Without the service every control is off and a banner says since when the values are
    old; with the service back the page is live again."""
    stop()
    WebDriverWait(driver, 15).until(lambda d: d.find_element(By.ID, "offline").is_displayed())
    assert "Werte sind vom" in driver.find_element(By.ID, "offline").text
    controls = driver.find_elements(By.CSS_SELECTOR, "#app button, #app select, #app input")
    assert controls and all(c.get_attribute("disabled") is not None for c in controls), "controls still enabled"
    driver.save_screenshot(os.path.join(ARTIFACTS, "web-page-offline.png"))
    start()
    WebDriverWait(driver, 20).until(lambda d: not d.find_element(By.ID, "offline").is_displayed())
    WebDriverWait(driver, 10).until(lambda d: d.find_element(By.ID, "mode").get_attribute("disabled") is None)


def console_errors(driver):
    return [e for e in driver.get_log("browser") if e["level"] == "SEVERE"]


def main():
    os.makedirs(ARTIFACTS, exist_ok=True)
    scratch = tempfile.mkdtemp(prefix="quelvan-browser-")
    service = driver = chromedriver = None
    try:
        port = free_port()
        sock = os.path.join(scratch, "quelvand.sock")
        token_file = os.path.join(scratch, "state", "web-token")
        config = os.path.join(scratch, "quelvand.conf")
        with open(config, "w") as f:
            f.write(f"[service]\nsocket = {sock}\n[web]\nlisten = 127.0.0.1\nport = {port}\n"
                    f"token_file = {token_file}\n[history]\nfolder = {os.path.join(scratch, 'history')}\n"
                    # The simulated water is about 25 °C: the temperature alarm is raised at once.
                    "[alarm]\nwater_max = 20\n"
                    # Today's day program from the sun in London, with its line under the status.
                    "[sun]\nfollow = daily\nplace = Europe/London\n")
        env = dict(os.environ, QUELVAN_SOCKET=sock)
        log = open(os.path.join(scratch, "quelvand.log"), "w")

        def start_service():
            nonlocal service
            service = subprocess.Popen([QUELVAND, "--config", config,
                                        "--simulate=" + os.path.join(scratch, "board.state")], stderr=log, env=env)

        def stop_service():
            service.terminate()
            service.wait(timeout=10)

        start_service()
        wait_for("the service's socket", lambda: os.path.exists(sock) and os.path.exists(token_file))
        token = open(token_file).read().strip()
        wait_for("a board read whole", lambda: board_status(env).get("mode_name"))

        options = webdriver.ChromeOptions()
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                         "--user-data-dir=" + os.path.join(scratch, "profile"), "--no-first-run",
                         # The driver reaches the browser through a pipe, not by the name localhost.
                         "--remote-debugging-pipe",
                         "--disable-background-networking", "--disable-component-update", "--disable-sync",
                         "--window-size=%d,%d" % SIZES[0]):
            options.add_argument(argument)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        chromedriver, driver = start_browser(scratch, options)
        url = f"http://127.0.0.1:{port}/"
        for index, (width, height) in enumerate(SIZES):
            driver.set_window_size(width, height)
            driver.get(url)
            if index == 0:
                # The first visit asks for the token; later ones find it in the browser's storage.
                field = WebDriverWait(driver, 10).until(lambda d: d.find_element(By.ID, "token"))
                assert field.is_displayed(), "the page asks for the token"
                field.send_keys(token)
                driver.find_element(By.ID, "loginButton").click()
            WebDriverWait(driver, 10).until(lambda d: d.find_element(By.ID, "app").is_displayed())
            WebDriverWait(driver, 10).until(lambda d: len(d.find_element(By.ID, "clock").text) == 8)
            WebDriverWait(driver, 10).until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#graph polyline")) == 12)
            # The red banner at the top: the alarm with its value, bound and since when.
            banner = WebDriverWait(driver, 10).until(lambda d: d.find_element(By.ID, "alarms"))
            WebDriverWait(driver, 10).until(lambda d: banner.is_displayed())
            assert "Temperaturalarm" in banner.text and "über 20,0 °C, seit " in banner.text, banner.text
            assert banner.location["y"] == 0, "the banner is at the top"
            assert banner.value_of_css_property("background-color") == "rgba(198, 40, 40, 1)"
            daylight = WebDriverWait(driver, 10).until(lambda d: d.find_element(By.ID, "daylight"))
            WebDriverWait(driver, 10).until(lambda d: daylight.is_displayed())
            assert re.fullmatch(r"Tageslicht: London, Sonnenaufgang \d\d:\d\d, Sonnenuntergang \d\d:\d\d",
                                daylight.text), daylight.text
            names = driver.execute_script(
                "return [...document.querySelectorAll('#channels label')].map((e) => e.innerText.trim());")
            assert len(names) == 12 and names[0], names
            page_width = driver.execute_script("return document.documentElement.scrollWidth")
            assert page_width <= width, f"the page is {page_width} px wide in a {width} px window"

            mode = Select(driver.find_element(By.ID, "mode"))
            slider = driver.find_element(By.ID, "trb2")
            if index == 0:
                # The board starts in "Auto": the channels are greyed with the window's explanation.
                assert slider.get_attribute("disabled") is not None, "channel slider enabled in Auto"
                assert driver.find_element(By.ID, "manualOnly").is_displayed()
            mode.select_by_value("manual")
            wait_for("mode Manuell on the board", lambda: board_status(env)["mode_name"] == "Manuell")
            WebDriverWait(driver, 10).until(lambda d: d.find_element(By.ID, "trb2").get_attribute("disabled") is None)

            # A drag on the slider, as a finger does it; the board gets the slider's value.
            ActionChains(driver).click_and_hold(slider).move_by_offset(-slider.size["width"] // 4 + index * 10,
                                                                       0).release().perform()
            wanted = int(slider.get_attribute("value"))
            wait_for(f"channel C at {wanted} % on the board",
                     lambda: round(board_status(env)["channels"][2]["percent"]) == wanted)
            WebDriverWait(driver, 10).until(lambda d: d.find_element(By.ID, "edt2").text == f"{wanted} %")
            driver.save_screenshot(os.path.join(ARTIFACTS, f"web-page-{width}x{height}.png"))

            mode.select_by_value("auto")
            wait_for("mode Auto on the board", lambda: board_status(env)["mode_name"] == "Auto")
            WebDriverWait(driver, 10).until(lambda d: d.find_element(By.ID, "trb2").get_attribute("disabled") is not None)
            errors = console_errors(driver)
            assert not errors, f"console errors: {errors}"

        driver.set_window_size(*SIZES[0])
        driver.get(url)
        WebDriverWait(driver, 10).until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#graph polyline")) == 12)
        check_phone_graph(driver)
        check_live(driver, env, scratch)
        check_stale(driver)
        driver.save_screenshot(os.path.join(ARTIFACTS, "web-page-legend.png"))
        check_offline(driver, stop_service, start_service)
        # The browser reports the refused requests of the stopped service; nothing else.
        errors = [e for e in console_errors(driver) if "ERR_CONNECTION_REFUSED" not in e["message"]]
        assert not errors, f"console errors: {errors}"
        print("web page: both sizes, token, mode, slider, legend, live changes, offline, alarm banner, daylight; "
              "screenshots in " + ARTIFACTS)
        return 0
    finally:
        if driver:
            driver.quit()
        if chromedriver:
            chromedriver.terminate()
            chromedriver.wait(timeout=10)
        if service:
            service.terminate()
            service.wait(timeout=10)
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
