-- Headless Ardour: a session with QUORVANE on a track is saved, and opened
-- again. QVN_PHASE "create" makes and saves the session; "reopen" opens it,
-- prints the plug-in's parameters and saves it again.

local uid = os.getenv ("QVN_PLUGIN_UID")
local dir = os.getenv ("QVN_SESSION_DIR")
local phase = os.getenv ("QVN_PHASE")
local name = "qvn-state"

local function fail (msg)
	print ("FAIL: " .. msg)
	os.exit (1)
end

AudioEngine:set_backend ("None (Dummy)", "", "")
AudioEngine:set_sample_rate (48000)
AudioEngine:set_buffer_size (256)
if AudioEngine:start (false) ~= 0 then fail ("audio engine did not start") end

if phase == "create" then
	if create_session (dir, name, 48000) == nil then fail ("session not created") end
	local tracks = Session:new_audio_track (2, 2, nil, 1, "Vocal", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
	for t in tracks:iter () do
		local p = ARDOUR.LuaAPI.new_plugin (Session, uid, ARDOUR.PluginType.VST3, "")
		if p:isnil () then fail ("QUORVANE not found (" .. uid .. ")") end
		if t:add_processor_by_index (p, 0, nil, true) ~= 0 then fail ("insert failed") end
		ARDOUR.LuaAPI.set_processor_param (p, 0, 1.0)
	end
else
	if load_session (dir, name) == nil then fail ("session not opened") end
	local found = false
	for r in Session:get_routes ():iter () do
		local proc = r:nth_plugin (0)
		if not proc:isnil () and proc:display_name () == "QUORVANE" then
			found = true
			for i = 0, 19 do
				print (string.format ("PARAM %d %.4f", i, ARDOUR.LuaAPI.get_processor_param (proc, i)))
			end
		end
	end
	if not found then fail ("QUORVANE missing after reopening") end
	-- Let the engine run the plug-in for a moment, as a reopened session does.
	ARDOUR.LuaAPI.usleep (300000)
end

Session:save_state ("", false, false, false, false, false)
print ("SAVED")
close_session ()
quit ()
