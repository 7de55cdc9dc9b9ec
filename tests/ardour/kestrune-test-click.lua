ardour {
	["type"]    = "dsp",
	name        = "Kestrune Test Click",
	category    = "Utility",
	license     = "MIT",
	author      = "KestruneRoom tests",
	description = [[One impulse at a timeline position while the transport rolls.]]
}

function dsp_ioconfig () return { { audio_in = 2, audio_out = 2 } } end

function dsp_params ()
	return { { ["type"] = "input", name = "Position", min = 0, max = 100000000, default = 4800, integer = true } }
end

function dsp_run (ins, outs, n_samples)
	for c = 1, #outs do
		if ins[c] ~= outs[c] then ARDOUR.DSP.copy_vector (outs[c], ins[c], n_samples) end
	end
	if not Session:transport_rolling () then return end
	local at = math.floor (CtrlPorts:array ()[1])
	local pos = Session:transport_sample ()
	if at >= pos and at < pos + n_samples then
		for c = 1, #outs do outs[c]:array ()[at - pos + 1] = 0.5 end
	end
end
