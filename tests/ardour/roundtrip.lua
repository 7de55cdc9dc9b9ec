-- KestruneRoom in Ardour, run by roundtrip.sh through ardour7-lua with the "None (Dummy)" backend.
-- Stage "create": insert the plug-in between a click generator and a capture processor, check the
-- values Ardour shows, set values, play, save. Stage "reopen": load the session, check the values shown
-- and that it plays as before, and that a bounce starts from silence, both straight away and once the
-- track was switched off and on. Stage "state-only" (LV2): a session saved when the LV2 kept its values
-- in its state alone (no ports) plays as it was saved, and so it does again after a re-save.
-- (The Lua session tool's export crashes Ardour 7.3 now and then, so nothing here exports.)
-- Prints one line per check: PASS, FAIL, or KNOWN (a limitation of the host, described in the line).

local format = os.getenv("KRT_FORMAT") -- "LV2" or "VST3"
local dir = os.getenv("KRT_DIR")
local stage = os.getenv("KRT_STAGE")
local reference = os.getenv("KRT_REFERENCE") -- "state-only": the create stage's capture of the same settings
local rate = 48000

local names = { "mix", "predelay", "decay", "HighCut", "earlyLateMix", "lateSize", "lateCross", "lateModRate",
	"lateModDepth", "RTBassMultiply", "RTXover", "RTHighMultiply", "RTHighXover", "earlySize", "earlyCross",
	"earlyModRate", "earlyModDepth", "earlySend", "diffusion", "type" }
local defaults = { 1, 0.02, 1.9 / 99.9, 7900 / 14900, 0.5, 0.5, 1, 0.45 / 4.95, 0.5, 0.5 / 1.5, 900 / 9900, 0.4 / 0.9,
	7900 / 14900, 29 / 999, 0.1, 0.45 / 4.95, 0, 0, 1, 1 / 12 }
-- "Medium Room", half wet, a 3 s decay; no modulation, so that two renders can be compared.
local settings = { 0.5, 0.1, 2.9 / 99.9, 0.4, 0.3, 0.7, 0.8, 0.2, 0, 0.6, 0.2, 0.6, 0.5, 0.1, 0.3, 0.2, 0, 0.3, 0.7,
	2 / 12 }

local failures = 0
local function report(ok, what, limitation)
	if ok then
		print(string.format("PASS %s: %s", format, what))
	elseif limitation then
		print(string.format("KNOWN %s: %s (%s)", format, what, limitation))
	else
		print(string.format("FAIL %s: %s", format, what))
		failures = failures + 1
	end
end

-- The plug-in's twenty controls by parameter index, named after the parameters; for the LV2 also the
-- port each one is.
local function controls(proc)
	local a = proc:to_automatable()
	local found, ports = {}, {}
	for param in a:all_automatable_params():iter() do
		local c = a:automation_control(param, false)
		for k, name in ipairs(names) do
			if c:name() == name then
				found[k], ports[k] = c, param:id()
			end
		end
	end
	return found, ports
end

local function shows(proc, expected)
	local cs = controls(proc)
	local count, worst = 0, 0
	for k = 1, #names do
		if cs[k] then
			count = count + 1
			worst = math.max(worst, math.abs(cs[k]:get_value() - expected[k]))
		end
	end
	return count == #names and worst < 1e-5, string.format("%d of 20 controls, largest difference %.3g", count, worst)
end

local function contents(path)
	local f = io.open(path, "rb")
	if not f then
		return nil
	end
	local d = f:read("a")
	f:close()
	return d
end

local function readWav(path)
	local d = contents(path)
	if not d then
		return nil
	end
	local pos, channels, bits, first, bytes = 13
	while pos + 8 <= #d do
		local id, size = d:sub(pos, pos + 3), string.unpack("<I4", d, pos + 4)
		if id == "fmt " then
			channels = string.unpack("<I2", d, pos + 10)
			bits = string.unpack("<I2", d, pos + 22)
		elseif id == "data" then
			first, bytes = pos + 8, size
		end
		pos = pos + 8 + size + (size % 2)
	end
	if not first or bits ~= 32 then
		return nil
	end
	local frames = bytes // (4 * channels)
	local audio = {}
	for c = 1, channels do
		audio[c] = {}
		for i = 1, frames do
			audio[c][i] = string.unpack("<f", d, first + ((i - 1) * channels + c - 1) * 4)
		end
	end
	return audio
end

local function peak(channels, from, to)
	local p = 0
	for _, x in ipairs(channels) do
		for i = from, math.min(to, #x) do
			p = math.max(p, math.abs(x[i]))
		end
	end
	return p
end

local function dB(x)
	return x > 0 and 20 * math.log(x, 10) or -math.huge
end

local function processor(track, name)
	for i = 0, 3 do
		local p = track:nth_plugin(i)
		if not p:isnil() and p:display_name() == name then
			return p
		end
	end
end

-- Rolls the first 1.5 s of the timeline (the click generator clicks at 0.1 s) and returns the two
-- channels after the plug-in, as the capture processor kept them.
local captureFrames = 72000
local function capture(track)
	local shmem = processor(track, "Kestrune Test Capture"):to_insert():plugin(0):to_luaproc():shmem()
	shmem:clear()
	Session:request_locate(0, false, ARDOUR.LocateTransportDisposition.MustRoll, ARDOUR.TransportRequestSource.TRS_UI)
	for _ = 1, 100 do
		ARDOUR.LuaAPI.usleep(50000)
		if shmem:atomic_get_int(0) >= captureFrames then
			break
		end
	end
	Session:request_stop(false, false, ARDOUR.TransportRequestSource.TRS_UI)
	ARDOUR.LuaAPI.usleep(100000)
	if shmem:atomic_get_int(0) < captureFrames then
		return nil
	end
	local kept = shmem:to_float(1):array()
	local audio = { {}, {} }
	for c = 1, 2 do
		for i = 1, captureFrames do
			audio[c][i] = kept[(c - 1) * captureFrames + i]
		end
	end
	return audio
end

local function save(audio, path)
	local parts = {}
	for c = 1, 2 do
		for i = 1, captureFrames do
			parts[#parts + 1] = string.pack("<f", audio[c][i])
		end
	end
	local f = assert(io.open(path, "wb"))
	f:write(table.concat(parts))
	f:close()
end

local function load(path)
	local d = contents(path)
	if not d then
		return nil
	end
	local audio = { {}, {} }
	for c = 1, 2 do
		for i = 1, captureFrames do
			audio[c][i] = string.unpack("<f", d, 1 + ((c - 1) * captureFrames + i - 1) * 4)
		end
	end
	return audio
end

local function difference(a, b)
	local d = 0
	for c = 1, 2 do
		for i = 1, captureFrames do
			d = math.max(d, math.abs(a[c][i] - b[c][i]))
		end
	end
	return d
end

AudioEngine:set_backend("None (Dummy)", "", "")

if stage == "create" then
	create_session(dir, "roundtrip", rate)
	local track = Session:new_audio_track(2, 2, nil, 1, "Reverb", ARDOUR.PresentationInfo.max_order,
		ARDOUR.TrackMode.Normal, true, false):front()
	local id = format == "LV2" and "https://kestrunedsp.com/plugins/kestruneroom" or "KestruneRoom"
	local chain = {
		ARDOUR.LuaAPI.new_luaproc(Session, "Kestrune Test Click"),
		ARDOUR.LuaAPI.new_plugin(Session, id, ARDOUR.PluginType[format], ""),
		ARDOUR.LuaAPI.new_luaproc(Session, "Kestrune Test Capture"),
	}
	for i, proc in ipairs(chain) do
		assert(not proc:isnil(), "Ardour does not find processor " .. i .. " (the " .. format .. " plug-in is 2)")
		track:add_processor_by_index(proc, i - 1, nil, true)
	end
	local p = chain[2]
	ARDOUR.LuaAPI.usleep(200000)

	local ok, detail = shows(p, defaults)
	report(ok, "shows the defaults after insert: " .. detail)
	if format == "LV2" then
		-- The plug-in's window writes parameter k to port 9 + k; Ardour's window host (gtk2_ardour, not
		-- in this headless tool) sets the control of the port written, which must be the one of that name.
		local _, ports = controls(p)
		local wrong = 0
		for k = 1, #names do
			if ports[k] ~= 8 + k then
				wrong = wrong + 1
			end
		end
		report(wrong == 0, string.format("the port the plug-in's window writes for each parameter is Ardour's control of that name (%d wrong)", wrong))
	end
	local atDefaults = capture(track)
	report(atDefaults ~= nil, "plays at the defaults")

	local cs = controls(p)
	for k = 1, #names do
		if cs[k] then
			cs[k]:set_value(settings[k], PBD.GroupControlDisposition.NoGroup)
		end
	end
	ARDOUR.LuaAPI.usleep(300000) -- property changes reach the plug-in with the next cycles
	ok, detail = shows(p, settings)
	report(ok, "shows the values it set: " .. detail)
	local before = capture(track)
	report(before ~= nil and peak(before, 1, captureFrames) > 0.01, "plays the set values")
	if before and atDefaults then
		save(before, dir .. "/before-save.f32")
		save(atDefaults, dir .. "/defaults.f32")
	end
	Session:save_state("", false, false, false, false, false)
	close_session()
elseif stage == "reopen" then
	load_session(dir, "roundtrip")
	local track = Session:route_by_name("Reverb"):to_track()
	local p = processor(track, "KestruneRoom")
	assert(p, "the reopened session has no KestruneRoom")
	ARDOUR.LuaAPI.usleep(200000)

	local ok, detail = shows(p, settings)
	report(ok, "shows the saved values after reopening: " .. detail)

	local after, before, atDefaults = capture(track), load(dir .. "/before-save.f32"), load(dir .. "/defaults.f32")
	if after and before and atDefaults then
		local restored, changed = difference(after, before), difference(atDefaults, before)
		report(restored < 1e-3 * peak(before, 1, captureFrames) and changed > 0.01,
			string.format("sounds as saved: largest difference %.1f dBFS (the defaults differ by %.1f dBFS)",
				dB(restored), dB(changed)))
	else
		report(false, "plays after reopening")
	end

	-- With the tail of the click still ringing, a bounce of an empty stretch through the plug-in.
	local function bounceStart(name)
		local r = track:bounce_range(10 * rate, 10 * rate + rate // 2, ARDOUR.InterThreadInfo(), p, true, name, false)
		if r:isnil() then
			return nil
		end
		local list = io.popen('find "' .. dir .. '/interchange" -name "' .. name .. '%*.wav"')
		local channels = {}
		for path in list:lines() do
			channels[#channels + 1] = readWav(path)[1]
		end
		list:close()
		return #channels == 2 and peak(channels, 1, rate // 20) or nil
	end
	local running = bounceStart("bounce-running")
	report(running and running < 1e-6, string.format("a bounce starts from silence: %.1f dBFS in its first 50 ms",
		dB(running or 1)))
	-- Switching the track off and on deactivates and re-activates its plug-ins (switching a plug-in
	-- alone only bypasses it).
	capture(track)
	track:set_active(false, nil)
	ARDOUR.LuaAPI.usleep(200000)
	track:set_active(true, nil)
	ARDOUR.LuaAPI.usleep(200000)
	local reactivated = bounceStart("bounce-reactivated")
	report(reactivated and reactivated < 1e-6,
		string.format("after switching the track off and on, a bounce starts from silence: %.1f dBFS",
			dB(reactivated or 1)))
	close_session()
elseif stage == "state-only" or stage == "state-only-resaved" then
	load_session(dir, "roundtrip")
	local track = Session:route_by_name("Reverb"):to_track()
	local p = processor(track, "KestruneRoom")
	assert(p, "the state-only session has no KestruneRoom")
	ARDOUR.LuaAPI.usleep(200000)
	local after, expected = capture(track), load(reference)
	if after and expected then
		local restored = difference(after, expected)
		report(restored < 1e-3 * peak(expected, 1, captureFrames),
			string.format("%s: sounds as saved: largest difference %.1f dBFS",
				stage == "state-only" and "a session saved without ports" or "re-saved, reopened", dB(restored)))
	else
		report(false, "plays the session saved without ports")
	end
	local ok, detail = shows(p, settings)
	report(ok, "a session saved without ports shows its values: " .. detail,
		"a plug-in cannot set its host's controls; they follow the processor once its window is opened")
	if stage == "state-only" then
		Session:save_state("", false, false, false, false, false)
	end
	close_session()
end
print(string.format("DONE %s %s failures %d", format, stage, failures))
